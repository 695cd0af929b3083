#include "tstrings.h"
#include "streams.h"

#include <gtest/gtest.h>

TEST(TStrings, KeepsLinesInOrderAndEditsInPlace)
{
    TStrings list{"alpha", "", "gamma"};
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list[1], "");
    list.Insert(1, "beta");
    list.Put(0, "ALPHA");
    list.Delete(2);
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"ALPHA", "beta", "gamma"}));
    EXPECT_EQ(list.Text(), "ALPHA\r\nbeta\r\ngamma\r\n");
    EXPECT_THROW(list[3], std::out_of_range);
}

TEST(TStrings, PutWithItsOwnLineAndAddStringsOfItself)
{
    TStrings list{"one", "two"};
    list.Put(0, list[1]);
    list.AddStrings(list);
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"two", "two", "two", "two"}));
}

TEST(TStrings, AssignCopiesAndUninitializedLinesAreWritable)
{
    TStrings source;
    char* p = source.AddUninitialized(3);
    p[0] = 'a'; p[1] = 'b'; p[2] = 'c';
    source.Add("def");
    TStrings copy;
    copy.Add("old");
    copy.Assign(source);
    source.Clear();
    EXPECT_EQ(copy.ToVector(), (std::vector<std::string>{"abc", "def"}));
    EXPECT_TRUE(source.Empty());
}

TEST(TMemoryStream, ReadsWritesAndSeeks)
{
    TMemoryStream stream;
    stream.Write("hello");
    stream.Seek(0);
    char buffer[8] = {};
    EXPECT_EQ(stream.Read(buffer, 8), 5u);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    EXPECT_EQ(stream.Read(buffer, 8), 0u);
    stream.Seek(1);
    EXPECT_THROW(stream.ReadBuffer(buffer, 5), EReadError);
}

TEST(TFileStream, MissingFileAndFolderCannotBeOpened)
{
    EXPECT_THROW(TFileStream("/nonexistent/file"), EFOpenError);
    EXPECT_THROW(TFileStream("/tmp"), EFOpenError);
}
