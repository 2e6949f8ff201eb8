// Path and text utilities on the test volumes.
#include <gtest/gtest.h>

#include "ntfs/paths.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {
namespace {

struct Split {
    wchar_t drive[kDrivePartChars], dir[kPathPartChars], name[kPathPartChars], ext[kPathPartChars];
    explicit Split(const wchar_t* path) { SplitPath(path, drive, dir, name, ext); }
};

TEST(PathText, TrailingBackslashIsAddedAndRemovedOnce) {
    wchar_t path[MAX_PATH] = L"D:\\data";
    EXPECT_STREQ(AddTrailingBackslash(path), L"D:\\data\\");
    EXPECT_STREQ(AddTrailingBackslash(path), L"D:\\data\\");
    wchar_t twice[MAX_PATH] = L"D:\\data\\\\";
    EXPECT_STREQ(RemoveTrailingBackslash(twice), L"D:\\data\\");
    wchar_t root[MAX_PATH] = L"D:\\";
    EXPECT_STREQ(RemoveTrailingBackslash(root), L"D:");
    wchar_t empty[MAX_PATH] = L"";
    EXPECT_STREQ(RemoveTrailingBackslash(empty), L"");
    EXPECT_STREQ(AddTrailingBackslash(empty), L"\\");
}

TEST(PathText, SplitPathGivesDriveDirNameAndExtension) {
    Split a(L"D:\\dir\\file.tar.gz");
    EXPECT_STREQ(a.drive, L"D:");
    EXPECT_STREQ(a.dir, L"\\dir\\");
    EXPECT_STREQ(a.name, L"file.tar");
    EXPECT_STREQ(a.ext, L".gz");
    Split b(L"D:\\a.b\\x");
    EXPECT_STREQ(b.name, L"x");
    EXPECT_STREQ(b.ext, L"");
    Split c(L"dir/sub/f.txt");
    EXPECT_STREQ(c.drive, L"");
    EXPECT_STREQ(c.dir, L"dir/sub/");
    Split d(L"D:\\dir\\.profile");
    EXPECT_STREQ(d.name, L"");
    EXPECT_STREQ(d.ext, L".profile");
    Split e(L"\\\\server\\share\\f");
    EXPECT_STREQ(e.dir, L"\\\\server\\share\\");
    wchar_t ext[kPathPartChars];
    SplitPath(L"D:\\x.txt", nullptr, nullptr, nullptr, ext); // outputs may be absent
    EXPECT_STREQ(ext, L".txt");
}

TEST(PathText, TextLinesArePickedByIndex) {
    const wchar_t* text = L"first\r\n\r\nthird\r\nunterminated";
    wchar_t line[MAX_PATH];
    EXPECT_EQ(GetTextLine(text, line, 0), 5);
    EXPECT_STREQ(line, L"first");
    EXPECT_EQ(GetTextLine(text, line, 1), 0);
    EXPECT_STREQ(line, L"");
    EXPECT_EQ(GetTextLine(text, line, 2), 5);
    EXPECT_EQ(GetTextLine(text, line, 3), -1); // a last line without CR LF is never returned
    EXPECT_EQ(GetTextLine(text, line, 4), -1);
    EXPECT_EQ(GetTextLine(text, line, -1), -1);
    EXPECT_EQ(GetTextLine(L"", line, 0), -1);
}

TEST(PathText, StreamNamesRefuseTheForbiddenCharacters) {
    EXPECT_EQ(IsValidStreamName(L""), 0);
    EXPECT_EQ(IsValidStreamName(L"a,b"), 0);
    for (const wchar_t* bad : {L"a\\b", L"a/b", L"a:b", L"a;b", L"a*", L"a?", L"\"a\"", L"<a", L"a>", L"a|b"})
        EXPECT_EQ(IsValidStreamName(bad), 0) << Narrow(bad);
    EXPECT_EQ(IsValidStreamName(L"with spaces"), 1);
    EXPECT_EQ(IsValidStreamName(L"\u6CE8\u91C8 memo"), 1);
    EXPECT_EQ(IsValidStreamName(L" leading"), 1);
    EXPECT_EQ(IsValidStreamName(std::wstring(255, L'n').c_str()), 1);
    EXPECT_EQ(IsValidStreamName(std::wstring(256, L'n').c_str()), 0) << "NTFS holds 255 characters";
}

// The exact form of a path and the form a user reads, never cut.
TEST(PathText, VerbatimAndShownFormsOfAPath) {
    const struct { const wchar_t *path, *verbatim, *shown; size_t chars; } rows[] = {
        {L"D:\\a.", L"\\\\?\\D:\\a.", L"D:\\a.", 16},
        {L"\\\\srv\\s\\b ", L"\\\\?\\UNC\\srv\\s\\b ", L"\\\\srv\\s\\b ", 32},
        {L"\\\\?\\Volume{1}\\c", L"\\\\?\\Volume{1}\\c", L"\\\\?\\Volume{1}\\c", 32},
        {L"a.txt", nullptr, L"a.txt", 16}, // relative: the current folder would decide
        {L"D:\\abcdef", nullptr, L"D:\\abcdef", 10}, // 4 more do not fit
    };
    for (auto& r : rows) {
        wchar_t out[40], shown[40];
        ASSERT_EQ(MakeVerbatimPath(r.path, out, r.chars), r.verbatim ? 1 : 0) << Narrow(r.path);
        if (r.verbatim) EXPECT_STREQ(out, r.verbatim);
        ASSERT_EQ(MakeShownPath(r.verbatim ? r.verbatim : r.path, shown, 40), 1);
        EXPECT_STREQ(shown, r.shown);
    }
}

class PathQueries : public LeakCheckedTest {
protected:
    PathQueries() {
        volumes.AddVolume(L'D');
        volumes.AddVolume(L'A', VolumeOptions{L"FAT", false});
        volumes.MakeFolder(L"D:\\data");
        volumes.MakeFolder(L"D:\\empty");
        volumes.MakeFile(L"D:\\data\\one.txt", "1");
        volumes.MakeFile(L"D:\\data\\hidden.sys");
        volumes.AddAttributes(L"D:\\data\\hidden.sys", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }
};

TEST_F(PathQueries, ExistingFilesAreFilesNotFolders) {
    EXPECT_EQ(IsExistingFile(L"D:\\data\\one.txt"), 1);
    EXPECT_EQ(IsExistingFile(L"D:\\data\\hidden.sys"), 1);
    EXPECT_EQ(IsExistingFile(L"D:\\data\\*.txt"), 1);
    EXPECT_EQ(IsExistingFile(L"D:\\data"), 0);
    EXPECT_EQ(IsExistingFile(L"D:\\data\\none.txt"), 0);
    EXPECT_EQ(IsExistingFile(L""), 0);
}

TEST_F(PathQueries, HardLinkCountFollowsTheLinks) {
    EXPECT_EQ(GetHardLinkCount(L"D:\\data\\one.txt"), 1);
    volumes.MakeLink(L"D:\\data\\one.txt", L"D:\\two.txt");
    EXPECT_EQ(GetHardLinkCount(L"D:\\data\\one.txt"), 2);
    EXPECT_EQ(GetHardLinkCount(L"D:\\two.txt"), 2);
    EXPECT_EQ(GetHardLinkCount(L"D:\\data"), -1);
    EXPECT_EQ(GetHardLinkCount(L"D:\\missing"), -1);
    // Held open without read sharing: the query-only open still reads the count.
    HANDLE held = volumes.Api().CreateFileW(L"D:\\two.txt", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(GetHardLinkCount(L"D:\\two.txt"), 2);
    volumes.Api().CloseHandle(held);
    volumes.SetDenied(L"D:\\two.txt");
    EXPECT_EQ(GetHardLinkCount(L"D:\\two.txt"), -1);
}

TEST_F(PathQueries, ExistingFoldersIncludeReadyDrives) {
    EXPECT_EQ(IsExistingFolder(L"D:\\data"), 1);
    EXPECT_EQ(IsExistingFolder(L"D:\\data\\"), 1);
    EXPECT_EQ(IsExistingFolder(L"D:\\"), 1);
    EXPECT_EQ(IsExistingFolder(L"D:"), 1);
    EXPECT_EQ(IsExistingFolder(L"D:\\data\\one.txt"), 0);
    EXPECT_EQ(IsExistingFolder(L"D:\\nothing"), 0);
    EXPECT_EQ(IsExistingFolder(L""), 0);
    // An empty removable drive: no folder, and no system dialog (checked by the fixture).
    EXPECT_EQ(IsExistingFolder(L"A:\\"), 0);
    EXPECT_EQ(IsExistingFolder(L"A:"), 0);
}

TEST_F(PathQueries, EmptyFoldersHoldNothingButDotEntries) {
    EXPECT_EQ(IsFolderEmpty(L"D:\\empty"), 1);
    EXPECT_EQ(IsFolderEmpty(L"D:\\data"), 0);
    EXPECT_EQ(IsFolderEmpty(L"D:\\nothing"), 0);
    EXPECT_EQ(IsFolderEmpty(L"D:\\data\\one.txt"), 0);
    volumes.MakeFolder(L"D:\\empty\\sub");
    EXPECT_EQ(IsFolderEmpty(L"D:\\empty"), 0);
}

TEST_F(PathQueries, ADriveRootIsEmptyOnlyWhenItHoldsNothing) {
    volumes.AddVolume(L'E');
    EXPECT_EQ(IsFolderEmpty(L"E:\\"), 1);
    EXPECT_EQ(IsFolderEmpty(L"E:"), 1);
    volumes.MakeFile(L"E:\\one");
    EXPECT_EQ(IsFolderEmpty(L"E:\\"), 0); // no "." and ".." to mistake a lone file for
    volumes.MakeFile(L"E:\\two");
    EXPECT_EQ(IsFolderEmpty(L"E:\\"), 0);
}

TEST_F(PathQueries, AncestorsAreFoldersStrictlyAbove) {
    EXPECT_EQ(IsAncestorPath(L"D:\\foo", L"D:\\foo\\bar"), 1);
    EXPECT_EQ(IsAncestorPath(L"D:\\foo", L"D:\\foobar"), 0);
    EXPECT_EQ(IsAncestorPath(L"D:\\foo", L"D:\\FOO\\bar"), 1);
    EXPECT_EQ(IsAncestorPath(L"D:\\foo\\", L"D:\\foo"), 0);
    EXPECT_EQ(IsAncestorPath(L"D:\\", L"E:\\x"), 0);
    EXPECT_EQ(IsAncestorPath(L"D:\\", L"D:\\x\\y"), 1);
    EXPECT_EQ(IsAncestorPath(L"d:/foo", L"D:\\foo\\bar\\"), 1);
    volumes.Api().SetCurrentDirectoryW(L"D:\\data");
    EXPECT_EQ(IsAncestorPath(L"..", L"sub"), 1);
    EXPECT_EQ(IsAncestorPath(L"sub", L".."), 0);
}

TEST_F(PathQueries, PrependStringPutsThePrefixInFront) {
    wchar_t buffer[MAX_PATH] = L"D:\\data\\";
    EXPECT_EQ(PrependString(buffer, L"\\??\\"), buffer);
    EXPECT_STREQ(buffer, L"\\??\\D:\\data\\");
    wchar_t untouched[MAX_PATH] = L"D:\\data\\";
    EXPECT_EQ(ForEachAllocationFailure([&](bool) {
                  wchar_t copy[MAX_PATH] = L"D:\\data\\";
                  wchar_t* result = PrependString(copy, L"\\??\\");
                  if (!result) {
                      EXPECT_STREQ(copy, untouched);
                  }
              }),
              1);
}

} // namespace
} // namespace kestrune::testing
