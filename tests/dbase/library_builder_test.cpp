// The fixture builder writes all ten tables with the schema's columns, the
// rows in the order added, deletion marks, and upper-case names on request.
#include "dbase/library_builder.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/dbase/temp_dir.h"

namespace Mirel::Dbase {
namespace {

using Testing::TTempDir;

std::string text(TTableReader& r, uint32_t rec, const char* field) {
  int f = r.field_index(field);
  EXPECT_GE(f, 0) << field;
  return f < 0 ? std::string() : r.value(rec, static_cast<size_t>(f)).as_text();
}

TEST(LibraryBuilder, WritesAllTenTablesWithTheirRows) {
  TTempDir dir;
  TLibraryBuilder lib;
  TBook b;
  b.bookid = book_id(12);
  b.syomei = "こころ";
  b.chosya = "夏目漱石";
  b.seikyu = "913.6/ナ";
  b.ukeire = "20240401";
  b.kingaku = "580";
  b.naiyo = "先生と私";
  b.tfmsuu = "0";
  lib.add_book(b);
  TBook gone = b;
  gone.bookid = book_id(13);
  gone.deleted = true;
  lib.add_book(gone);
  lib.add_copies(b.bookid, 2, 1).add_loan(b.bookid, "20240420", "20240406", "U1");
  lib.add_reservation(b.bookid, "20240410").add_reservation(b.bookid, "20240411", "U2", 2);
  lib.add_feature(b.bookid).add_feature(book_id(99));
  lib.add_kkubun("09", "館内のみ");
  lib.write(dir.path().string());

  for (const TTableSchema& t : library_schema())
    EXPECT_TRUE(std::filesystem::exists(dir.file(t.file))) << t.file;

  TTableReader master(dir.file("master.dbf"));
  EXPECT_EQ(master.record_length(), 914u);
  ASSERT_EQ(master.record_count(), 2u);
  EXPECT_EQ(text(master, 0, "MS_BOOKID"), "0000000012");
  EXPECT_EQ(text(master, 0, "MS_SYOMEI"), "こころ");
  EXPECT_EQ(text(master, 0, "MS_SEIKYU"), "913.6/ナ");
  EXPECT_EQ(text(master, 0, "MS_KINGAKU"), "580");
  EXPECT_EQ(text(master, 0, "MS_NAIYO"), "先生と私");
  EXPECT_EQ(text(master, 0, "MS_KKUBUN"), "01");
  EXPECT_EQ(text(master, 0, "MS_SYOZAI"), "001");
  EXPECT_EQ(text(master, 0, "MS_TFMSUU"), "0");
  EXPECT_TRUE(master.value(0, static_cast<size_t>(master.field_index("MS_TZENKAI"))).is_null());
  EXPECT_FALSE(master.is_deleted(0));
  EXPECT_TRUE(master.is_deleted(1));

  TTableReader yoyaku(dir.file("yoyaku.dbf"));
  ASSERT_EQ(yoyaku.record_count(), 2u);
  EXPECT_EQ(text(yoyaku, 1, "YO_YDATE"), "20240411");
  EXPECT_EQ(text(yoyaku, 1, "YO_JYUNI"), "2");

  TTableReader kkubun(dir.file("kkubun.dbf"));
  ASSERT_EQ(kkubun.record_count(), 5u);
  EXPECT_EQ(text(kkubun, 1, "KK_KKNAME"), "禁帯出");
  EXPECT_EQ(text(kkubun, 4, "KK_KKNAME"), "館内のみ");

  TTableReader feature(dir.file("feature.dbf"));
  EXPECT_EQ(feature.record_count(), 2u);
  TTableReader loans(dir.file("kasidasi.dbf"));
  EXPECT_EQ(text(loans, 0, "KA_HDATE"), "20240420");
}

TEST(LibraryBuilder, EmptyBuilderWritesEmptyTablesInUpperCase) {
  TTempDir dir;
  TLibraryBuilder(false).write(dir.path().string(), true);
  for (const char* name : {"MASTER.DBF", "MASTER.DBT", "SKUBUN.DBF", "FEATURE.DBF"})
    EXPECT_TRUE(std::filesystem::exists(dir.file(name))) << name;
  TTableReader master(dir.file("MASTER.DBF"));
  EXPECT_EQ(master.record_count(), 0u);
  EXPECT_EQ(master.memo_path(), dir.file("MASTER.DBT"));
  EXPECT_EQ(TTableReader(dir.file("SYOZAI.DBF")).record_count(), 0u);
}

TEST(LibraryBuilder, UnknownTableOrColumnIsRefused) {
  TLibraryBuilder lib;
  EXPECT_THROW(lib.add_row("nosuch.dbf", {}), EDbaseError);
  EXPECT_THROW(lib.add_row("yoyaku.dbf", {{"NO_SUCH", "1"}}), EDbaseError);
  EXPECT_THROW(lib.add_row("master.dbf", {}), EDbaseError);
}

}  // namespace
}  // namespace Mirel::Dbase
