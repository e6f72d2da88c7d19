// The template page producer: reads an HTML template and replaces each
// "<#NAME params>" tag by the text its tag handler returns.
//
// The template is read and parsed (template_parse.h) at every Content()
// call, or, for a producer told to keep its parse (a row template produced
// once per row), at the first call for its path only; the nodes are then
// rendered against the handler. It is scanned as bytes of its code page (UTF-8 when it starts with the UTF-8 byte-order mark, else
// the default code page) and the result is returned as UTF-16; replacement
// texts are converted to the template's code page when they are inserted.
// Failures leave Content() as Exception and nothing of the page is returned:
// a file that cannot be opened or read ("ファイル <path> は開けません。 <reason> ",
// the path made absolute), a line of 4096 bytes or more ("<n> 行で 行が長すぎます"),
// a bad percent escape in a tag parameter; anything the handler throws
// passes through unchanged. The file name is the path in UTF-8.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "platform/strings.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// Kinds of tags: custom, or one of the six predefined names (compared
// without letter case). The handlers of this program act on custom tags only.
enum class TTag { tgCustom = 0, tgLink, tgImage, tgTable, tgImageMap, tgObject, tgEmbed };

class TPageProducer;
struct Tparsed_template;

// The parameter text of a tag (blanks at its ends already removed) as the
// entries handed to the handler: split at spaces, CR and LF (a double-quoted
// stretch keeps its spaces; a tab never separates), quotes removed, then
// URL-decoded like a request field. Throws Exception on a bad escape.
TStrings split_tag_params(std::u16string_view text);

using THTMLTagEvent =
    std::function<void(TPageProducer& sender, TTag tag, const UnicodeString& tag_string,
                       TStrings& tag_params, UnicodeString& replace_text)>;

class TPageProducer {
 public:
  TPageProducer() = default;
  explicit TPageProducer(THTMLTagEvent on_html_tag) : on_html_tag_(std::move(on_html_tag)) {}

  const UnicodeString& HTMLFile() const { return html_file_; }
  // Replaces the path unless it equals the current one without regard to
  // ASCII letter case.
  void SetHTMLFile(const UnicodeString& path);
  void SetOnHTMLTag(THTMLTagEvent handler) { on_html_tag_ = std::move(handler); }

  // Whether the parsed template is kept for the next Content() of the same
  // path instead of reading the file again. Off unless set.
  void SetKeepParsed(bool keep) { keep_parsed_ = keep; }

  // Produces the page from the current template.
  UnicodeString Content();

 private:
  const Tparsed_template& parsed();

  UnicodeString html_file_;
  THTMLTagEvent on_html_tag_;
  bool keep_parsed_ = false;
  UnicodeString parsed_file_;
  std::shared_ptr<Tparsed_template> parsed_;
};

}  // namespace Mirel::MirelWeb
