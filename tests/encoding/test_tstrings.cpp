#include "streams.h"
#include "tstrings.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(TStrings, KeepLinesInOrderEditInPlaceAndCopy)
{
    TStrings list{"alpha", "", "gamma"};
    EXPECT_EQ(list[1], "");
    list.Insert(1, "beta");
    list.Put(0, "ALPHA");
    list.Delete(2);
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"ALPHA", "beta", "gamma"}));
    EXPECT_EQ(list.Text(), "ALPHA\r\nbeta\r\ngamma\r\n");
    EXPECT_THROW(list[3], std::out_of_range);
    // Lines of the list itself as arguments: the buffer may move meanwhile.
    list.Put(0, list[2]);
    list.AddStrings(list);
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"gamma", "beta", "gamma", "gamma", "beta", "gamma"}));
    // Assign copies; lines added uninitialized are writable.
    TStrings source;
    std::memcpy(source.AddUninitialized(3), "abc", 3);
    source.Add("def");
    list.Assign(source);
    source.Clear();
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"abc", "def"}));
    EXPECT_TRUE(source.Empty());
}

TEST(Streams, MemoryStreamReadsWritesAndSeeksFileStreamNeedsAFile)
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
    EXPECT_THROW(TFileStream("/nonexistent/file"), EFOpenError);
    EXPECT_THROW(TFileStream("/tmp"), EFOpenError);
}
