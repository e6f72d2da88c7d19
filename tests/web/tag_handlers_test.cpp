// The tag handlers as functions over a page context, with a book cursor of
// fixed books in place of a search: which field each record tag reads, the
// lending status and mark, the rows of a list page with their numbers, the
// paging links and the row template's own tags.
#include <gtest/gtest.h>

#include <vector>

#include "error/mwerror.h"
#include "platform/exception.h"
#include "render/page_tags.h"
#include "tests/request/fake_request.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;
using Mirelsearch_tlb::Tbook_field;

namespace {

struct Book {
  std::vector<UnicodeString> fields = std::vector<UnicodeString>(15);
  int32_t price = 0;
  UnicodeString location;
  bool on_loan = false, missing = false, not_for_loan = false;
};

// Books in a row; the cursor walks them as the search component does.
class FakeCursor : public Mirelsearch_tlb::Ibook_cursor {
 public:
  explicit FakeCursor(std::vector<Book> books) : books_(std::move(books)) {}
  int32_t book_count() override { return static_cast<int32_t>(books_.size()); }
  int32_t skip_books(int32_t n) override {
    const size_t to = std::min(books_.size(), pos_ + static_cast<size_t>(n));
    const auto moved = static_cast<int32_t>(to - pos_);
    pos_ = to;
    return moved;
  }
  bool past_last_book() override { return pos_ >= books_.size(); }
  void next_book() override {
    if (pos_ < books_.size()) ++pos_;
  }
  UnicodeString book_text(Tbook_field f) override { return at().fields[static_cast<size_t>(f)]; }
  int32_t book_price() override { return at().price; }
  UnicodeString book_location() override { return at().location; }
  bool on_loan() override { return at().on_loan; }
  bool missing() override { return at().missing; }
  bool not_for_loan() override { return at().not_for_loan; }

 private:
  const Book& at() {
    if (pos_ >= books_.size()) throw Exception(u"past the end");
    return books_[pos_];
  }
  std::vector<Book> books_;
  size_t pos_ = 0;
};

Book numbered(int i) {
  Book b;
  for (size_t f = 0; f < b.fields.size(); ++f)
    b.fields[f] = from_utf8("f" + std::to_string(f) + "-" + std::to_string(i));
  return b;
}

// A context for a GET of `path_info` with `query` on host h, script /s.
struct Page {
  explicit Page(const std::string& path_info, const std::string& query = "")
      : request(Mirel::MirelWeb::testing::make_request({{"REQUEST_METHOD", "GET"},
                                       {"QUERY_STRING", query},
                                       {"PATH_INFO", path_info},
                                       {"HTTP_HOST", "h"},
                                       {"SCRIPT_NAME", "/s"}})),
        context(request, setup, caption, newbook, error, row_number) {}

  std::string tag(const char16_t* name, TStrings params = {}, bool row = false) {
    UnicodeString out;
    (row ? row_tag : page_tag)(context, TTag::tgCustom, name, params, out);
    return to_utf8(out);
  }

  TWebRequest request;
  Tmw_setup setup;
  UnicodeString caption;
  std::shared_ptr<Tmwnewbook> newbook;
  Tmwerror error;
  int32_t row_number = 0;
  TPageContext context;
};

TEST(TagHandlers, EachRecordTagReadsItsOwnField) {
  const std::pair<const char16_t*, Tbook_field> tags[] = {
      {u"BOOKID", Tbook_field::bookid}, {u"SYOMEI", Tbook_field::syomei},
      {u"SYOKANA", Tbook_field::syokana}, {u"CHOSYA", Tbook_field::chosya},
      {u"CHOKANA", Tbook_field::chokana}, {u"SYUPAN", Tbook_field::syupan},
      {u"SYUNEN", Tbook_field::syunen}, {u"ISBN", Tbook_field::isbn},
      {u"PAGE", Tbook_field::page}, {u"OOKISA", Tbook_field::ookisa},
      {u"SEIKYU", Tbook_field::seikyu}, {u"KENMEI", Tbook_field::kenmei},
      {u"NAIYO", Tbook_field::naiyo}, {u"UKEIRE", Tbook_field::ukeire},
      {u"MEMO", Tbook_field::memo},
  };
  FakeCursor cursor({numbered(1)});
  Page page("/list");
  page.context.cursor = &cursor;
  for (const auto& [name, field] : tags)
    EXPECT_EQ(page.tag(name), "f" + std::to_string(static_cast<int>(field)) + "-1") << to_utf8(name);
}

TEST(TagHandlers, DetailPageDashesEmptyFieldsButNotPriceOrClassification) {
  Book b;
  b.price = 1200;
  FakeCursor cursor({b});
  Page detail("/data");
  detail.context.cursor = &cursor;
  EXPECT_EQ(detail.tag(u"SYOMEI"), "---");
  EXPECT_EQ(detail.tag(u"SYOZAI"), "---");
  EXPECT_EQ(detail.tag(u"NDC"), "");
  EXPECT_EQ(detail.tag(u"KINGAKU"), "1200");
  Page list("/list");
  list.context.cursor = &cursor;
  EXPECT_EQ(list.tag(u"SYOMEI"), "");
}

TEST(TagHandlers, LendingStatusAndMark) {
  struct Case {
    bool loan, missing, forbidden;
    std::string status, mark;
  };
  const std::string off = "<div class=\"disabled\">▲</div>", on = "<div class=\"enabled\">■</div>";
  const Case cases[] = {
      {false, false, false, "<div class=\"enabled\">貸出可</div>", on},
      {true, true, true, "<div class=\"disabled\">貸出中</div>", off},
      {false, true, true, "<div class=\"disabled\">所在不明</div>", off},
      {false, false, true, "<div class=\"disabled\">貸出禁止</div>", off},
  };
  for (const Case& c : cases) {
    Book b;
    b.on_loan = c.loan;
    b.missing = c.missing;
    b.not_for_loan = c.forbidden;
    FakeCursor cursor({b});
    Page page("/list");
    page.context.cursor = &cursor;
    EXPECT_EQ(page.tag(u"KASIDASI"), c.status);
    EXPECT_EQ(page.tag(u"KASIDASI_MARK"), c.mark);
  }
}

TEST(TagHandlers, ListRowsStartAtTheirPageAndNumberOnAcrossIt) {
  std::vector<Book> books;
  for (int i = 1; i <= 7; ++i) books.push_back(numbered(i));
  FakeCursor cursor(books);
  Page page("/list", "PAGENUM=1&SYOMEI=x");
  page.setup.rows = 3;
  page.context.cursor = &cursor;
  page.context.produce_row = [&] {
    return int_to_text(page.row_number) + u":" + cursor.book_text(Tbook_field::bookid);
  };
  EXPECT_EQ(page.tag(u"FIND_VALUE_LIST"), "4:f0-4\r\n5:f0-5\r\n6:f0-6\r\n");
  // The cursor stands after the last row shown.
  EXPECT_EQ(page.tag(u"BOOKID"), "f0-7");
  EXPECT_EQ(page.tag(u"TOTAL_FIND_COUNT"), "7");
}

TEST(TagHandlers, PagingLinks) {
  FakeCursor cursor(std::vector<Book>(45));
  Page page("/list", "PAGENUM=1&SYOMEI=a&STATUS=0");
  page.context.cursor = &cursor;
  const std::string list = "http://h/s/list?PAGENUM=";
  const std::string rest = "&SYOMEI=a&CHOSYA=&SYUPAN=&ISBN=&KENMEI=&ORDER=&ORDERKIND=&STATUS=0";
  EXPECT_EQ(page.tag(u"NEXT_PAGE", {u"caption=次"}),
            "<a href=\"" + list + "2" + rest + "\" class=\"next_page\">次</a>");
  EXPECT_EQ(page.tag(u"PRIOR_PAGE", {u"caption=前"}),
            "<a href=\"" + list + "0" + rest + "\" class=\"prior_page\">前</a>");
  EXPECT_EQ(page.tag(u"PAGE_LIST"), "<a href=\"" + list + "0" + rest +
                                        "\" class=\"page_list\">1</a> <span class=\"cur_page\">2</span> "
                                        "<a href=\"" + list + "2" + rest + "\" class=\"page_list\">3</a>");
  Page last("/recommend", "PAGENUM=2&STATUS=1");
  last.context.cursor = &cursor;
  EXPECT_EQ(last.tag(u"NEXT_PAGE"), "");
}

TEST(TagHandlers, WithoutACursorBookTagsAreEmpty) {
  Page page("/data", "PAGENUM=3");
  for (const char16_t* name : {u"SYOMEI", u"KASIDASI", u"KINGAKU", u"FIND_VALUE_LIST",
                               u"TOTAL_FIND_COUNT", u"NEXT_PAGE", u"PRIOR_PAGE", u"PAGE_LIST"})
    EXPECT_EQ(page.tag(name), "") << to_utf8(name);
  EXPECT_EQ(page.tag(u"GOTO_DETAIL_BEGIN", {}, true), "");
  EXPECT_EQ(page.tag(u"GOTO_DETAIL_END", {}, true), "</a>");
}

TEST(TagHandlers, RowTags) {
  Book b;
  b.fields[static_cast<size_t>(Tbook_field::bookid)] = u"0000000042";
  b.fields[static_cast<size_t>(Tbook_field::chosya)] = u"夏目漱石です";
  b.fields[static_cast<size_t>(Tbook_field::syomei)] = u"こころ";
  FakeCursor cursor({b});
  Page page("/list", "SYOMEI=a&PAGENUM=2&BOOKID=9");
  page.setup.author_link_chars = 2;
  page.row_number = 21;
  page.context.cursor = &cursor;
  EXPECT_EQ(page.tag(u"SEQUENCE", {}, true), "21");
  EXPECT_EQ(page.tag(u"GOTO_DETAIL_BEGIN", {}, true),
            "<a href=\"http://h/s/data?BOOKID=0000000042&PAGENUM=2&SYOMEI=a&CHOSYA=&SYUPAN=&ISBN="
            "&KENMEI=&ORDER=&ORDERKIND=&STATUS=0\" class=\"goto_detail\">");
  EXPECT_EQ(page.tag(u"CHOSYA", {}, true),
            "<a href=\"http://h/s/list?PAGENUM=0&CHOSYA=%89%C4%96%DA\" class=\"chosya\">夏目漱石です</a>");
  // Other tags fall through to the page handler; SEQUENCE is not a page tag.
  EXPECT_EQ(page.tag(u"SYOMEI", {}, true), "こころ");
  EXPECT_EQ(page.tag(u"SEQUENCE"), "");
}

TEST(TagHandlers, EachQueryTagEchoesItsOwnParameter) {
  Page page("/list", "SYOMEI=s%3C&CHOSYA=c&SYUPAN=p&ISBN=i&KENMEI=k&ORDER=o&ORDERKIND=1&PAGENUM=4");
  const std::pair<const char16_t*, const char*> tags[] = {
      {u"QUERY_SYOMEI", "s&lt;"}, {u"QUERY_CHOSYA", "c"}, {u"QUERY_SYUPAN", "p"},
      {u"QUERY_ISBN", "i"},       {u"QUERY_KENMEI", "k"}, {u"QUERY_ORDER", "o"},
      {u"QUERY_ORDERKIND", "1"},  {u"QUERY_PAGENUM", "4"},
  };
  for (const auto& [name, expected] : tags) EXPECT_EQ(page.tag(name), expected) << to_utf8(name);
}

TEST(TagHandlers, SetupGivesLaterTagsTheirRowsAndCaptions) {
  Page page("/recommend", "STATUS=1");
  EXPECT_EQ(page.tag(u"SETUP", {u"rows=5", u"recommend_caption=R", u"newbook_caption=N"}), "");
  EXPECT_EQ(page.setup.rows, 5);
  EXPECT_EQ(page.tag(u"RECOMMEND"), "<a href=\"http://h/s/recommend?PAGENUM=0&STATUS=1\" class=\"recommend\">R</a>");
  EXPECT_EQ(page.tag(u"NEWBOOK"), "<a href=\"http://h/s/newbook?PAGENUM=0&STATUS=2\" class=\"newbook\">N</a>");
  EXPECT_EQ(page.tag(u"QUERY_KEY_LIST"), "<span class=\"query_key\">R</span>");
  // A later SETUP without a parameter puts its value back to the default.
  EXPECT_EQ(page.tag(u"SETUP", {u"recommend_caption=S"}), "");
  EXPECT_EQ(page.setup.rows, 20);
}

TEST(TagHandlers, ParametersAreParsedOnceAndAFailingParseFailsEveryTag) {
  Page bad("/list", "SYOMEI=%zz");
  EXPECT_THROW(bad.tag(u"QUERY_SYOMEI"), Exception);
  EXPECT_THROW(bad.tag(u"QUERY_SYOMEI"), Exception);
  Page good("/list", "SYOMEI=a");
  const Tmwrequests& first = good.context.requests();
  EXPECT_EQ(&first, &good.context.requests());
  EXPECT_EQ(good.tag(u"QUERY_SYOMEI"), "a");
}

}  // namespace
