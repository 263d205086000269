// The program's page scheme on a web context: the one reader of the pages
// and of the work files they play (bridge/program_pages.h decides what an
// address names; this answers WebKit with those bytes, whole or by the one
// byte range asked for).
#pragma once

#include <webkit2/webkit2.h>

namespace zb {

class ProgramPages;

// Registers the scheme on `context`, answered from `pages`, which must
// outlive the context. The scheme is secure (nothing the pages load is mixed
// content) and fetched by the pages as their own origin; not local, so a page
// of ours loads no file URL.
void RegisterPageScheme(WebKitWebContext* context, const ProgramPages* pages);

}  // namespace zb
