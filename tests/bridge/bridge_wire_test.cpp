#include "bridge/bridge_wire.h"

#include <gtest/gtest.h>

namespace zb::wire {
namespace {

TEST(BridgeWire, RequestsRoundTrip) {
  Request r;
  ASSERT_TRUE(DecodeRequest(EncodeLookup("ZBL_IsZBL"), &r));
  EXPECT_EQ(r.op, kOpLookup);
  EXPECT_EQ(r.name, "ZBL_IsZBL");

  std::vector<Value> args(5);
  args[0].tag = Tag::kString;
  args[0].s = std::string("a\0b", 3);
  args[1].tag = Tag::kInt;
  args[1].i = -7;
  args[2].tag = Tag::kDouble;
  args[2].d = 2.5;
  args[3].tag = Tag::kBool;
  args[3].b = true;
  args[4].tag = Tag::kNull;
  ASSERT_TRUE(DecodeRequest(EncodeInvoke(3, DISPATCH_METHOD, args), &r));
  EXPECT_EQ(r.dispid, 3);
  EXPECT_EQ(r.flags, DISPATCH_METHOD);
  ASSERT_EQ(r.args.size(), 5u);
  ASSERT_EQ(r.args[0].vt, VT_BSTR);
  EXPECT_EQ(BstrView(r.args[0].bstrVal), std::u16string(u"a\0b", 3));
  EXPECT_EQ(r.args[1].vt, VT_I4);
  EXPECT_EQ(r.args[1].lVal, -7);
  EXPECT_EQ(r.args[2].vt, VT_R8);
  EXPECT_EQ(r.args[2].dblVal, 2.5);
  EXPECT_EQ(r.args[3].vt, VT_BOOL);
  EXPECT_EQ(r.args[3].boolVal, VARIANT_TRUE);
  EXPECT_EQ(r.args[4].vt, VT_NULL);
  // DISPPARAMS holds them last-first.
  DISPPARAMS params = r.args.Params();
  ASSERT_EQ(params.cArgs, 5u);
  EXPECT_EQ(params.rgvarg[4].vt, VT_BSTR);
  EXPECT_EQ(params.rgvarg[0].vt, VT_NULL);

  ASSERT_TRUE(DecodeRequest(EncodeHello(0x1122334455667788ull, std::string("s\0cret", 6)), &r));
  EXPECT_EQ(r.op, kOpHello);
  EXPECT_EQ(r.pageId, 0x1122334455667788ull);
  EXPECT_EQ(r.secret, std::string("s\0cret", 6));
  Reply rep;
  EXPECT_TRUE(DecodeReply(EncodeHelloReply(), kOpHello, &rep));
  EXPECT_TRUE(rep.ok);
  EXPECT_FALSE(DecodeReply(EncodeHelloReply() + "x", kOpHello, &rep));
}

TEST(BridgeWire, MalformedInputIsRefused) {
  Request r;
  std::string good = EncodeInvoke(1, 1, std::vector<Value>(2));
  for (size_t cut = 0; cut < good.size(); ++cut)
    EXPECT_FALSE(DecodeRequest(good.substr(0, cut), &r)) << cut;
  std::string hello = EncodeHello(5, "secret");
  for (size_t cut = 1; cut < hello.size(); ++cut)
    EXPECT_FALSE(DecodeRequest(hello.substr(0, cut), &r)) << cut;
  EXPECT_FALSE(DecodeRequest(hello + "x", &r));
  EXPECT_TRUE(DecodeRequest(EncodeHello(5, std::string(kMaxSecret, 's')), &r));
  EXPECT_FALSE(DecodeRequest(EncodeHello(5, std::string(kMaxSecret + 1, 's')), &r));
  EXPECT_FALSE(DecodeRequest(good + "x", &r));              // trailing bytes
  EXPECT_FALSE(DecodeRequest(std::string("\x09", 1), &r));  // unknown op
  std::string manyArgs = EncodeInvoke(1, 1, {});
  manyArgs[7] = '\xFF';  // argc 255 > limit
  EXPECT_FALSE(DecodeRequest(manyArgs, &r));
  std::string badTag = EncodeInvoke(1, 1, std::vector<Value>(1));
  badTag.back() = '\x42';
  EXPECT_FALSE(DecodeRequest(badTag, &r));
  std::string hugeString = EncodeLookup("abc");
  hugeString[4] = '\x7F';  // length far past the payload
  EXPECT_FALSE(DecodeRequest(hugeString, &r));
}

TEST(BridgeWire, FrameReaderSplitsAndBoundsFrames) {
  FrameReader fr;
  std::string two = Frame("one") + Frame("") + Frame("three");
  std::string payload;
  // Fed one byte at a time.
  std::vector<std::string> got;
  for (char c : two) {
    fr.Feed(&c, 1);
    while (fr.Next(&payload) == FrameReader::Status::kFrame) got.push_back(payload);
  }
  EXPECT_EQ(got, (std::vector<std::string>{"one", "", "three"}));
  FrameReader big;
  std::string header = "\xFF\xFF\xFF\x7F";
  big.Feed(header.data(), 4);
  EXPECT_EQ(big.Next(&payload), FrameReader::Status::kTooLarge);
}

TEST(BridgeWire, RepliesAndVariantsConvert) {
  Reply rep;
  ASSERT_TRUE(DecodeReply(EncodeLookupReply(14, kKindMethod), kOpLookup, &rep));
  EXPECT_EQ(rep.dispid, 14);
  EXPECT_EQ(rep.kind, kKindMethod);
  ASSERT_TRUE(DecodeReply(EncodeErrorReply("boom"), kOpInvoke, &rep));
  EXPECT_FALSE(rep.ok);
  EXPECT_EQ(rep.error, "boom");

  // A text goes into the automation shape as UTF-16 and comes back as UTF-8.
  Value v;
  v.tag = Tag::kString;
  v.s = "caf\xC3\xA9";
  Request r;
  ASSERT_TRUE(DecodeRequest(EncodeInvoke(4, DISPATCH_METHOD, {v}), &r));
  ASSERT_EQ(r.args[0].vt, VT_BSTR);
  EXPECT_EQ(BstrView(r.args[0].bstrVal), u"caf\u00e9");
  ASSERT_TRUE(DecodeReply(EncodeInvokeReply(r.args[0]), kOpInvoke, &rep));
  EXPECT_EQ(rep.result.s, v.s);
  VARIANT var;
  VariantInit(&var);
  var.vt = VT_INT;
  var.intVal = 42;
  ASSERT_TRUE(DecodeReply(EncodeInvokeReply(var), kOpInvoke, &rep));
  EXPECT_EQ(rep.result.i, 42);
}

}  // namespace
}  // namespace zb::wire
