// The pair of texts (title, explanation) that the error page shows, and the
// fixed pairs for a busy database, a search without hits and a search too
// large to run (too long a value, too many words, too long a time).
#pragma once

#include "platform/strings.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// Something that can fill a template tag by name.
class Itag_replace {
 public:
  virtual void replace(const UnicodeString& tag_name, const TStrings& tag_params,
                       UnicodeString& replace_text) = 0;
  virtual ~Itag_replace() = default;
};

class Tmwerror : public Itag_replace {
 public:
  // ERR_NAME gives `name`, ERR_MSG gives `message` (exact letter case);
  // any other tag leaves the replacement text as it is.
  void replace(const UnicodeString& tag_name, const TStrings& tag_params,
               UnicodeString& replace_text) override;

  void set_name(const UnicodeString& name) { name_ = name; }
  void set_message(const UnicodeString& message) { message_ = message; }
  const UnicodeString& get_name() const { return name_; }
  const UnicodeString& get_message() const { return message_; }

 private:
  UnicodeString name_;
  UnicodeString message_;
};

void set_busy_error(Tmwerror& error);
void set_not_found_error(Tmwerror& error);
// A request past the limits of mirelweb.ini's section "Limits", or a search
// stopped by its time budget: the visitor is told what to shorten.
void set_narrow_error(Tmwerror& error);

}  // namespace Mirel::MirelWeb
