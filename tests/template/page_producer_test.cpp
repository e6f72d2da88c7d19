// The template producer: tag syntax, parameter splitting and decoding, code
// pages, the line limit and the failures, on templates written to a
// temporary directory.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/exception.h"
#include "template/page_producer.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;

namespace {

struct Call {
  TTag kind;
  UnicodeString name;
  TStrings params;
};

class PageProducerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/mw_template_XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // Produces `bytes` as a template; every tag is recorded and replaced by
  // `replacement(call)` (nothing by default).
  UnicodeString produce(const std::string& bytes) {
    TPageProducer producer([this](TPageProducer& sender, TTag tag, const UnicodeString& name,
                                  TStrings& params, UnicodeString& replace_text) {
      EXPECT_TRUE(replace_text.empty());
      EXPECT_EQ(&sender, producer_);
      calls.push_back({tag, name, params});
      if (replacement) replace_text = replacement(calls.back());
    });
    producer_ = &producer;
    producer.SetHTMLFile(from_utf8(write("page.html", bytes)));
    return producer.Content();
  }

  // The message of the Exception that producing `bytes` throws.
  UnicodeString failure(const std::string& bytes) {
    try {
      produce(bytes);
    } catch (const Exception& e) {
      return e.message();
    }
    return u"(no failure)";
  }

  std::string dir_;
  TPageProducer* producer_ = nullptr;
  std::vector<Call> calls;
  std::function<UnicodeString(const Call&)> replacement;
};

}  // namespace

TEST_F(PageProducerTest, TemplateWithoutTagsIsReturnedUnchanged) {
  const std::string page = "<html>\r\n<body>\x90\x7D\x8F\x91\x8A\xD9 a > b \t</body></html>\n";
  EXPECT_EQ(produce(page), from_ansi(page));
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(produce(""), u"");
}

TEST_F(PageProducerTest, BlanksInsideATagDoNotChangeIt) {
  for (const std::string tag : {"<#ROWS>", "< #ROWS>", "<# ROWS >", "<\t#\r\nROWS\t>", "<  #  ROWS   >"}) {
    calls.clear();
    replacement = [](const Call&) { return UnicodeString(u"R"); };
    EXPECT_EQ(produce("a" + tag + "b"), u"aRb") << tag;
    ASSERT_EQ(calls.size(), 1u) << tag;
    EXPECT_EQ(calls[0].name, u"ROWS");
    EXPECT_EQ(calls[0].kind, TTag::tgCustom);
    EXPECT_TRUE(calls[0].params.empty());
  }
}

TEST_F(PageProducerTest, TagNamesKeepTheirCaseAndPredefinedNamesGetTheirKind) {
  struct Case { const char* name; TTag kind; };
  const Case cases[] = {
      {"setup", TTag::tgCustom},   {"SETUP", TTag::tgCustom},     {"LINK", TTag::tgLink},
      {"link", TTag::tgLink},      {"Image", TTag::tgImage},      {"TABLE", TTag::tgTable},
      {"imagemap", TTag::tgImageMap}, {"OBJECT", TTag::tgObject}, {"embed", TTag::tgEmbed},
      {"LINKS", TTag::tgCustom},   {"ERR_NAME", TTag::tgCustom},  {"_x9", TTag::tgCustom},
  };
  for (const auto& c : cases) {
    calls.clear();
    EXPECT_EQ(produce(std::string("[<#") + c.name + " a=1>]"), u"[]") << c.name;
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].name, from_utf8(c.name));
    EXPECT_EQ(calls[0].kind, c.kind) << c.name;
    EXPECT_EQ(calls[0].params, TStrings{u"a=1"});
  }
}

TEST_F(PageProducerTest, ParametersAreSplitUnquotedAndDecoded) {
  struct Case { std::string params; TStrings entries; };
  const Case cases[] = {
      {"a=1 b=2", {u"a=1", u"b=2"}},
      {"  a=1    b=2  ", {u"a=1", u"b=2"}},
      {"a=1\r\nb=2\nc=3", {u"a=1", u"b=2", u"c=3"}},
      {"a=1\tb=2", {u"a=1\tb=2"}},                          // a tab does not separate
      {"caption=\"two words\" n=1", {u"caption=two words", u"n=1"}},
      {"v=\"O'Brien\"", {u"v=O'Brien"}},                    // apostrophe inside double quotes stays
      {"v='single' w", {u"v=single", u"w"}},
      {"v=\"a\"b", {u"v=a", u"b"}},                         // the entry ends with the closing quote
      // An unclosed quote also hides the ">": the rest of the page is the entry.
      {"v=\"open to the end", {u"v=open to the end>"}},
      {"x=a+b y=100%% z=%2B w=%82%A0", {u"x=a b", u"y=100%", u"z=+", u"w=あ"}},
      {"flag", {u"flag"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    calls.clear();
    produce("<#T " + c.params + ">");
    ASSERT_EQ(calls.size(), 1u) << c.params;
    EXPECT_EQ(calls[0].params, c.entries) << c.params;
  }
}

TEST_F(PageProducerTest, QuotesDecideWhereATagEnds) {
  struct Case { std::string page; std::u16string out; TStrings params; };
  const Case cases[] = {
      {"<#T v=\"a>b\" w=1>tail", u"[]tail", {u"v=a>b", u"w=1"}},
      {"<#T v='a>b'>tail", u"[]tail", {u"v=a>b"}},
      {"<#T v=\"it's\">tail", u"[]tail", {u"v=it's"}},
      // A lone apostrophe runs the tag on to the first ">" after the next one.
      {"<#T it's x>more'>tail", u"[]tail", {u"its", u"x>more"}},
      // Without a closing ">" the rest of the template is the parameter text.
      {"<#T it's>rest of page", u"[]", {u"its>rest", u"of", u"page"}},
      {"<#T a=1", u"[]", {u"a=1"}},
  };
  for (const auto& c : cases) {
    calls.clear();
    replacement = [](const Call&) { return UnicodeString(u"[]"); };
    EXPECT_EQ(produce(c.page), c.out) << c.page;
    ASSERT_EQ(calls.size(), 1u) << c.page;
    EXPECT_EQ(calls[0].params, c.params) << c.page;
  }
}

TEST_F(PageProducerTest, ALessThanSignThatIsNoTagLosesTheBlanksAfterIt) {
  struct Case { std::string page; std::u16string out; };
  const Case cases[] = {
      {"a < b", u"a <b"},
      {"if a <\r\n  10", u"if a <10"},
      {"<p>x</p>", u"<p>x</p>"},
      {"x <  ", u"x <"},
      {"<< #T>", u"<< #T>"},  // the token after "<" is "<": scanning goes on after it
      {"a<#", u"a[]"},        // "<#" at the end: a tag with an empty name
  };
  for (const auto& c : cases) {
    replacement = [](const Call&) { return UnicodeString(u"[]"); };
    EXPECT_EQ(produce(c.page), c.out) << c.page;
  }
}

TEST_F(PageProducerTest, BlanksAfterATagAreCopied) {
  replacement = [](const Call&) { return UnicodeString(u"R"); };
  EXPECT_EQ(produce("<#A>  \r\n\t x"), u"R  \r\n\t x");
}

TEST_F(PageProducerTest, ReplacementTextIsNotScannedAgain) {
  replacement = [](const Call& call) {
    return call.name == u"A" ? UnicodeString(u"<#B> < x") : UnicodeString(u"b");
  };
  EXPECT_EQ(produce("<#A>|<#B>"), u"<#B> < x|b");
  EXPECT_EQ(calls.size(), 2u);
}

TEST_F(PageProducerTest, UnknownTagsAndAMissingHandlerGiveTheEmptyText) {
  EXPECT_EQ(produce("a<#UNKNOWN x=1>b<#LINK>c"), u"abc");
  TPageProducer bare;
  bare.SetHTMLFile(from_utf8(write("bare.html", "a<#X>b")));
  EXPECT_EQ(bare.Content(), u"ab");
}

TEST_F(PageProducerTest, ByteZeroEndsTheTemplate) {
  EXPECT_EQ(produce(std::string("ab\0cd<#T>", 9)), u"ab");
  EXPECT_EQ(produce(std::string("<#T a=1\0b>cd", 12)), u"");
  EXPECT_EQ(calls.back().params, TStrings{u"a=1"});
}

TEST_F(PageProducerTest, ByteOrderMarkMakesAUtf8Template) {
  replacement = [](const Call&) { return UnicodeString(u"貸出中"); };
  EXPECT_EQ(produce("\xEF\xBB\xBF<p>\xE6\x9C\xAC <#T v=\xE6\x9C\xAC></p>"), u"<p>本 貸出中</p>");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].params, TStrings{u"v=本"});
}

TEST_F(PageProducerTest, ReplacementsAreLimitedToTheTemplatesCodePage) {
  replacement = [](const Call&) { return UnicodeString(u"\u00e9\u3042"); };
  EXPECT_EQ(produce("<#T>"), u"?あ");                 // code page 932 has no é
  EXPECT_EQ(produce("\xEF\xBB\xBF<#T>"), u"\u00e9\u3042");
}

TEST_F(PageProducerTest, BadPercentEscapesFailTheProduction) {
  EXPECT_EQ(failure("page <#T v=50%>"), u"URL 表記用エンコード（%XX）文字列のエラー：位置 - 5");
  EXPECT_EQ(failure("page <#T v=%G1>"), u"URL 表記エンコードでは許されない文字 (%G1)：位置 - 3");
  EXPECT_TRUE(calls.empty());  // the handler is not called for the bad tag
}

TEST_F(PageProducerTest, AnExceptionFromTheHandlerLeavesContent) {
  replacement = [](const Call& call) -> UnicodeString {
    if (call.name == u"BAD") throw Exception(u"タグ置換処理に失敗しました");
    return u"x";
  };
  EXPECT_EQ(failure("<#A><#BAD><#C>"), u"タグ置換処理に失敗しました");
  EXPECT_EQ(calls.size(), 2u);
}

TEST_F(PageProducerTest, LinesOf4096BytesOrMoreStopTheScan) {
  const std::string ok(4095, 'a');
  const std::string long_line(4096, 'a');
  // 4095 bytes and a line feed fill the buffer exactly.
  EXPECT_EQ(produce(ok + "\n" + ok + "\n" + ok), from_ansi(ok + "\n" + ok + "\n" + ok));
  EXPECT_EQ(failure(long_line), u"1 行で 行が長すぎます");
  EXPECT_EQ(failure("x\n<#T>\n" + long_line + "\n"), u"3 行で 行が長すぎます");
  EXPECT_EQ(calls.size(), 1u);  // the tags before the long line were already handled
  std::string many;
  for (int i = 0; i < 1000; ++i) many += "line\n";
  EXPECT_EQ(failure(many + std::string(5000, 'b')), u"1001 行で 行が長すぎます");
}

TEST_F(PageProducerTest, TheMarkDoesNotCountTowardsTheFirstLine) {
  const std::string line(4095, 'a');
  EXPECT_EQ(produce("\xEF\xBB\xBF" + line), from_ansi(line));
}

TEST_F(PageProducerTest, TagsAcrossBufferRefills) {
  // Many short lines with tags, and one tag whose parameters span several
  // refills of the buffer, must come out as if the file were read whole.
  std::string page, expected;
  for (int i = 0; i < 600; ++i) {
    page += "row " + std::to_string(i) + " <#N i=" + std::to_string(i) + ">\n";
    expected += "row " + std::to_string(i) + " [i=" + std::to_string(i) + "]\n";
  }
  std::string long_value;
  for (int i = 0; i < 300; ++i) long_value += "word" + std::to_string(i) + "\n";
  page += "<#N v=\"" + long_value + "\">end";
  expected += "[v=" + long_value + "]end";
  replacement = [](const Call& call) {
    UnicodeString joined;
    for (const auto& p : call.params) joined += p;
    return u"[" + joined + u"]";
  };
  EXPECT_EQ(produce(page), from_ansi(expected));
  EXPECT_EQ(calls.size(), 601u);
}

TEST_F(PageProducerTest, AFileThatCannotBeOpenedIsNamedWithTheSystemsReason) {
  TPageProducer producer;
  const UnicodeString path = from_utf8(dir_ + "/missing.html");
  producer.SetHTMLFile(path);
  try {
    producer.Content();
    ADD_FAILURE() << "no failure";
  } catch (const Exception& e) {
    EXPECT_EQ(e.message(), u"ファイル " + path + u" は開けません。 No such file or directory ");
  }
  producer.SetHTMLFile(from_utf8(dir_));
  try {
    producer.Content();
    ADD_FAILURE() << "no failure for a directory";
  } catch (const Exception& e) {
    EXPECT_EQ(e.message(), u"ファイル " + from_utf8(dir_) + u" は開けません。 Is a directory ");
  }
}

TEST_F(PageProducerTest, ARelativePathIsShownInFull) {
  TPageProducer producer;
  producer.SetHTMLFile(u"no-such-template.html");
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  try {
    producer.Content();
    ADD_FAILURE() << "no failure";
  } catch (const Exception& e) {
    EXPECT_EQ(e.message(), u"ファイル " + from_utf8(cwd) +
                               u"/no-such-template.html は開けません。 No such file or directory ");
  }
}

TEST_F(PageProducerTest, SettingTheSamePathInAnotherCaseKeepsTheFirst) {
  TPageProducer producer;
  producer.SetHTMLFile(u"/Html/Top.html");
  producer.SetHTMLFile(u"/HTML/top.HTML");
  EXPECT_EQ(producer.HTMLFile(), u"/Html/Top.html");
  producer.SetHTMLFile(u"/Html/list.html");
  EXPECT_EQ(producer.HTMLFile(), u"/Html/list.html");
}

TEST_F(PageProducerTest, AHandlerMayRunAnotherProducer) {
  TPageProducer rows([](TPageProducer&, TTag, const UnicodeString& name, TStrings&,
                        UnicodeString& replace_text) { replace_text = u"<" + name + u">"; });
  rows.SetHTMLFile(from_utf8(write("row.html", "<tr><#CELL></tr>")));
  replacement = [&rows](const Call&) { return rows.Content() + rows.Content(); };
  EXPECT_EQ(produce("<table><#ROWS></table>"), u"<table><tr><CELL></tr><tr><CELL></tr></table>");
}

TEST_F(PageProducerTest, TheFileIsReadAfreshEachTime) {
  TPageProducer producer;
  const std::string path = write("again.html", "one");
  producer.SetHTMLFile(from_utf8(path));
  EXPECT_EQ(producer.Content(), u"one");
  write("again.html", "two");
  EXPECT_EQ(producer.Content(), u"two");
}

namespace {

TEST_F(PageProducerTest, AProducerThatKeepsItsParseReadsTheFileOnceAndRendersItAgain) {
  int calls_made = 0;
  TPageProducer producer([&](TPageProducer&, TTag, const UnicodeString&, TStrings& params,
                             UnicodeString& replace_text) {
    ++calls_made;
    replace_text = params.at(0);
    params.clear();  // a handler's change to its entries stays its own
  });
  producer.SetKeepParsed(true);
  const std::string path = write("row.html", "<#T a%25b>|");
  producer.SetHTMLFile(from_utf8(path));
  EXPECT_EQ(producer.Content(), u"a%b|");
  write("row.html", "changed");
  EXPECT_EQ(producer.Content(), u"a%b|");
  EXPECT_EQ(calls_made, 2);
  // Another path is read afresh.
  producer.SetHTMLFile(from_utf8(write("other.html", "x")));
  EXPECT_EQ(producer.Content(), u"x");
}

TEST_F(PageProducerTest, AKeptParseFailsAgainWhereTheScanStopped) {
  int calls_made = 0;
  TPageProducer producer([&](TPageProducer&, TTag, const UnicodeString&, TStrings&,
                             UnicodeString&) { ++calls_made; });
  producer.SetKeepParsed(true);
  producer.SetHTMLFile(from_utf8(write("bad.html", "<#T>\n" + std::string(4096, 'a'))));
  EXPECT_THROW(producer.Content(), Exception);
  EXPECT_THROW(producer.Content(), Exception);
  EXPECT_EQ(calls_made, 2);
}

}  // namespace
