// Named-stream count and list through the backup walk on the test volumes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ntfs/streams/streams.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {
namespace {

class NamedStreams : public LeakCheckedTest {
protected:
    NamedStreams() {
        volumes.AddVolume(L'D');
        volumes.AddVolume(L'F', VolumeOptions{L"FAT"});
        volumes.MakeFile(L"D:\\f.txt", "main data");
    }
    std::wstring List(const wchar_t* path, int expected, size_t chars = 4 * MAX_PATH) {
        std::vector<wchar_t> buffer(chars + 4, L'~');
        buffer[chars] = 0xFDFD;
        EXPECT_EQ(ListNamedStreams(path, buffer.data(), chars), expected) << Narrow(path);
        EXPECT_EQ(buffer[chars], 0xFDFD) << "written past the buffer";
        if (expected < 0) {
            EXPECT_EQ(buffer[0], L'~') << "a failed list touched the buffer";
            return L"";
        }
        return buffer.data();
    }
};

TEST_F(NamedStreams, AFileWithoutStreamsHasNone) {
    EXPECT_EQ(CountNamedStreams(L"D:\\f.txt"), 0);
    EXPECT_EQ(List(L"D:\\f.txt", 0), L"");
}

TEST_F(NamedStreams, StreamsAreListedInTheFilesOrder) {
    volumes.MakeStream(L"D:\\f.txt", L"b", "bee");
    volumes.MakeStream(L"D:\\f.txt", L"a", "a");
    volumes.MakeStream(L"D:\\f.txt", L" spaced name", "");
    EXPECT_EQ(CountNamedStreams(L"D:\\f.txt"), 3);
    EXPECT_EQ(List(L"D:\\f.txt", 3), L"b\r\na\r\n spaced name\r\n");
}

// A stream of another type holds no content to open: both ways list the data streams alone.
TEST_F(NamedStreams, OnlyDataStreamsAreListed) {
    volumes.MakeStream(L"D:\\f.txt", L"a", "a");
    volumes.MakeTypedStream(L"D:\\f.txt", L"t", L"$LOGGED_UTILITY_STREAM");
    for (StreamCalls calls : {StreamCalls::Present, StreamCalls::Absent}) {
        volumes.SetStreamCalls(calls);
        EXPECT_TRUE(List(L"D:\\f.txt", 1) == L"a\r\n" && CountNamedStreams(L"D:\\f.txt") == 1) << static_cast<int>(calls);
    }
}

TEST_F(NamedStreams, EmptyStreamsDoNotEndTheWalk) {
    volumes.MakeStream(L"D:\\f.txt", L"empty", "");
    volumes.MakeStream(L"D:\\f.txt", L"after", "x");
    volumes.MakeFile(L"D:\\empty.txt");
    volumes.MakeStream(L"D:\\empty.txt", L"s", "x");
    EXPECT_EQ(List(L"D:\\f.txt", 2), L"empty\r\nafter\r\n");
    EXPECT_EQ(CountNamedStreams(L"D:\\f.txt"), 2);
    EXPECT_EQ(List(L"D:\\empty.txt", 1), L"s\r\n"); // an empty main stream before it
}

TEST_F(NamedStreams, FoldersCarryStreamsToo) {
    volumes.MakeFolder(L"D:\\dir");
    volumes.MakeStream(L"D:\\dir", L"note", "n");
    EXPECT_EQ(CountNamedStreams(L"D:\\dir"), 1);
    EXPECT_EQ(List(L"D:\\dir\\", 1), L"note\r\n");
}

// Every name NTFS allows is listed once, the way the system offers and whoever holds the file:
// a writer sharing everything stops no way, one sharing nothing stops the backup walk alone.
TEST_F(NamedStreams, EveryNameIsListedOnceWhateverItHoldsAndWhoeverHoldsTheFile) {
    const std::wstring names[] = {L"first", L"a.", L"two\r\nlines\x01", std::wstring(255, L'm'), L"last"};
    for (const auto& name : names) volumes.MakeStream(L"D:\\f.txt", name, "data");
    for (StreamCalls way : {StreamCalls::Present, StreamCalls::Absent, StreamCalls::Refused}) {
        for (DWORD share : {0ul, 1ul, DWORD(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)}) {
            volumes.SetStreamCalls(way);
            HANDLE writer = share == 1 ? INVALID_HANDLE_VALUE : volumes.Api().CreateFileW(
                L"D:\\f.txt", GENERIC_WRITE, share, nullptr, OPEN_EXISTING, 0, nullptr);
            bool refused = way != StreamCalls::Present && share == 0;
            std::string row = "way " + std::to_string(int(way)) + ", writer sharing " + std::to_string(share);
            EXPECT_EQ(CountNamedStreams(L"D:\\f.txt"), refused ? -1 : 5) << row;
            std::vector<wchar_t> list(5 * kStreamNameChars + 1, L'~');
            ASSERT_EQ(ListStreamNames(L"D:\\f.txt", list.data(), list.size()), refused ? -1 : 5) << row;
            for (size_t at = 0, i = 0; !refused && i < 5; at += names[i++].size() + 1)
                EXPECT_EQ(std::wstring(list.data() + at), names[i]) << row << ", name " << i;
            if (writer != INVALID_HANDLE_VALUE) volumes.Api().CloseHandle(writer);
        }
    }
}

TEST_F(NamedStreams, TheListStaysInsideABufferSizedBeforeAStreamWasAdded) {
    volumes.MakeStream(L"D:\\f.txt", std::wstring(200, L'a'), "1");
    size_t chars = static_cast<size_t>(CountNamedStreams(L"D:\\f.txt")) * MAX_PATH;
    volumes.MakeStream(L"D:\\f.txt", std::wstring(200, L'b'), "2");
    EXPECT_EQ(List(L"D:\\f.txt", 1, chars), std::wstring(200, L'a') + L"\r\n");
    EXPECT_EQ(List(L"D:\\f.txt", 0, 3), L"");
}

TEST_F(NamedStreams, FatHasNoStreamsToList) {
    volumes.MakeFile(L"F:\\f.txt");
    EXPECT_EQ(CountNamedStreams(L"F:\\f.txt"), 0);
    List(L"F:\\f.txt", -3);
}

TEST_F(NamedStreams, AnItemThatCannotBeReadIsRefused) {
    volumes.SetStreamCalls(StreamCalls::Absent);
    HANDLE held = volumes.Api().CreateFileW(L"D:\\f.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(CountNamedStreams(L"D:\\f.txt"), -1);
    List(L"D:\\f.txt", -1);
    volumes.Api().CloseHandle(held);
    EXPECT_EQ(CountNamedStreams(L"D:\\missing"), -1);
    List(L"D:\\missing", -1);
}

TEST_F(NamedStreams, StreamDataIsSkippedNotRead) {
    volumes.SetStreamCalls(StreamCalls::Absent); // the backup walk's figure
    volumes.MakeFile(L"D:\\small.bin");
    volumes.MakeStreamOfSize(L"D:\\small.bin", L"s", 1024);
    volumes.MakeFile(L"D:\\large.bin");
    volumes.MakeStreamOfSize(L"D:\\large.bin", L"s", 64u << 20);
    volumes.ResetStats();
    EXPECT_EQ(CountNamedStreams(L"D:\\small.bin"), 1);
    long long small = volumes.Stats().backupBytesRead;
    volumes.ResetStats();
    EXPECT_EQ(CountNamedStreams(L"D:\\large.bin"), 1);
    EXPECT_EQ(volumes.Stats().backupBytesRead, small);
}

} // namespace
} // namespace kestrune::testing
