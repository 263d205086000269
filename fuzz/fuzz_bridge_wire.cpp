// What a web process may send: any bytes give an error reply or a closed
// connection, never a crash or unbounded memory.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bridge/bridge_server.h"
#include "bridge/external_dispatch.h"
#include "fuzz_host.h"
#include "bridge/bridge_wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static zb::FuzzHost host;
  static zb::CExternalDispatch disp([] { return &host.core; });
  static zb::FuzzDispatch safe(&disp);
  static zb::BridgeServer server(&safe);
  std::string bytes(reinterpret_cast<const char*>(data), size);
  zb::wire::FrameReader reader;
  reader.Feed(bytes.data(), bytes.size());
  std::string payload;
  while (reader.Next(&payload) == zb::wire::FrameReader::Status::kFrame) server.Handle(payload);
  server.Handle(bytes);  // the whole input as one payload
  zb::wire::Reply reply;
  zb::wire::DecodeReply(bytes, zb::wire::kOpInvoke, &reply);
  zb::wire::DecodeReply(bytes, zb::wire::kOpLookup, &reply);
  return 0;
}
