// Fuzz target for the template page producer: the fuzz bytes are a template
// file, produced with a handler that echoes every tag's kind, name and
// parameters, and that runs a second producer from inside the first for the
// tag ROW, as the list pages do.
//
// A template without any "<" must come back unchanged (up to a byte 0, which
// ends a template); the handler is never called more often than there are
// "<" in the template. Failures must be Exception: the line limit, a bad
// escape in a parameter.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/exception.h"
#include "template/page_producer.h"

namespace {

using Mirel::Exception;
using Mirel::UnicodeString;
using namespace Mirel::MirelWeb;

UnicodeString echo(TTag tag, const UnicodeString& name, const Mirel::TStrings& params) {
  UnicodeString out = u"[" + Mirel::int_to_text(static_cast<int>(tag)) + u":" + name;
  for (const auto& p : params) out += u"|" + p + u"=" + Mirel::value_of(params, p);
  return out + u"]";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string file = mwfuzz::scratch_dir() + "page.html";
  mwfuzz::write_file(file, bytes);

  // The parameter splitter on its own.
  try {
    (void)split_tag_params(Mirel::from_ansi(bytes));
  } catch (const Exception&) {
  }

  size_t calls = 0;
  TPageProducer inner([&](TPageProducer&, TTag tag, const UnicodeString& name,
                          Mirel::TStrings& params, UnicodeString& replace) {
    ++calls;
    replace = echo(tag, name, params);
  });
  inner.SetHTMLFile(Mirel::from_utf8(file));

  size_t outer_calls = 0, nested = 0;
  TPageProducer outer([&](TPageProducer&, TTag tag, const UnicodeString& name,
                          Mirel::TStrings& params, UnicodeString& replace) {
    ++outer_calls;
    // A replacement that looks like a tag must reach the page unscanned.
    replace = u"<#" + echo(tag, name, params);
    if (name == u"ROW" && nested < 2) {
      ++nested;
      replace += inner.Content();
    }
  });
  outer.SetHTMLFile(Mirel::from_utf8(file));

  const std::string_view until_nul = bytes.substr(0, bytes.find('\0'));
  try {
    const UnicodeString page = outer.Content();
    MWFUZZ_CHECK(outer_calls <= static_cast<size_t>(std::count(until_nul.begin(), until_nul.end(), '<')));
    if (until_nul.find('<') == std::string_view::npos) {
      const bool bom = until_nul.substr(0, 3) == "\xEF\xBB\xBF";
      MWFUZZ_CHECK(page == (bom ? Mirel::from_utf8(until_nul.substr(3)) : Mirel::from_ansi(until_nul)));
    }
  } catch (const Exception&) {
  }
  (void)calls;
  return 0;
}
