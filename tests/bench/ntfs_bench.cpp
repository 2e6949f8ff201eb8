// Benchmark (not a test): hard-link enumeration over test volumes of 10,000 to 1,000,000 files and
// over a real tree on the ntfs-3g drive N:, each way beside a bare recursive directory walk of the
// same tree, and the bytes the stream listing moves through the backup walk for small and large
// streams. One summary line per figure.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "ntfs/links/drop_links.h"
#include "ntfs/links/hardlinks.h"
#include "ntfs/kernel.h"
#include "ntfs/kernel_override.h"
#include "ntfs/overlay_checks.h"
#include "ntfs/streams/streams.h"
#include "shell/propntfs/stream_ops.h"
#include "tests/fake/fake_volumes.h"

using namespace kestrune;
using namespace kestrune::testing;

namespace {

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// 10 x 10 folders of equal share of `files`, and a file with 4 more links spread over the tree.
long long BuildTree(FakeVolumeSet& volumes, int files) {
    long long entries = 0;
    int perFolder = files / 100;
    for (int a = 0; a < 10; ++a) {
        std::wstring top = L"D:\\top" + std::to_wstring(a);
        volumes.MakeFolder(top);
        ++entries;
        for (int b = 0; b < 10; ++b) {
            std::wstring folder = top + L"\\sub" + std::to_wstring(b);
            volumes.MakeFolder(folder);
            ++entries;
            for (int f = 0; f < perFolder; ++f) {
                volumes.MakeFile(folder + L"\\file" + std::to_wstring(f) + L".dat");
                ++entries;
            }
        }
    }
    volumes.MakeFile(L"D:\\linked.txt");
    for (int i = 0; i < 4; ++i)
        volumes.MakeLink(L"D:\\linked.txt", L"D:\\top" + std::to_wstring(i * 3) + L"\\sub" + std::to_wstring(i) +
                                                L"\\link" + std::to_wstring(i) + L".txt");
    return entries + 5;
}

// Entries below `folder`; `folders` counts the folders read, `folder` included.
long long Walk(const std::wstring& folder, long long& folders) {
    long long found = 0;
    ++folders;
    WIN32_FIND_DATAW data;
    HANDLE search = Kernel().FindFirstFileW((folder + L"*.*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (data.cFileName[0] == L'.') continue;
        ++found;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) found += Walk(folder + data.cFileName + L"\\", folders);
    } while (Kernel().FindNextFileW(search, &data));
    Kernel().FindClose(search);
    return found;
}

// The fastest of `runs` runs, in seconds: the machine is shared, and a slow run says little.
template <typename Work> double Fastest(int runs, Work work) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        double start = Seconds();
        work();
        best = std::min(best, Seconds() - start);
    }
    return best;
}

// Each way of enumerating `linked`, beside a bare walk of `root`. `use` switches the way and resets
// the counts that `costs` tells of the last run.
template <typename Use, typename Costs>
void WayFigures(const char* tree, const wchar_t* root, const wchar_t* linked, int runs, Use use, Costs costs) {
    long long walked = 0, folders = 0;
    double floor = Fastest(runs, [&] { walked = Walk(root, folders = 0); });
    printf("%s: bare directory walk of %lld entries in %lld folders %.4f s\n", tree, walked, folders, floor);
    for (const LinkWay& way : kLinkWays) {
        int count = 0;
        double elapsed = Fastest(runs, [&] {
            use(way);
            std::vector<wchar_t> text(5 * MAX_PATH);
            count = EnumerateHardLinks(linked, text.data(), text.size(), nullptr);
        });
        printf("%s, %s: %d of 5 links, %.4f s (%.3f ms per link, %.2f x the walk), %s\n", tree, way.name, count,
               elapsed, elapsed * 1000 / 5, elapsed / floor, costs().c_str());
    }
}

void EnumerationFigures(int files) {
    FakeVolumeSet volumes;
    ScopedFakeKernel binding(volumes);
    volumes.AddVolume(L'D');
    long long entries = BuildTree(volumes, files);
    auto use = [&](const LinkWay& way) {
        volumes.Use(way);
        volumes.ResetStats();
    };
    auto costs = [&] {
        FakeStats stats = volumes.Stats();
        char line[160];
        snprintf(line, sizeof line, "%lld kernel calls, %lld opens, peak heap %lld bytes (%.2f per entry)",
                 stats.kernelCalls, stats.fileOpens, stats.peakBytes,
                 static_cast<double>(stats.peakBytes) / static_cast<double>(entries));
        return std::string(line);
    };
    WayFigures((std::to_string(files) + " files").c_str(), L"D:\\", L"D:\\linked.txt", 3, use, costs);
}

// The real kernel, counting opens; GetFileInformationByHandleEx refuses while the id listing is off.
long long realOpens = 0;
bool realIdListing = true;
HANDLE WINAPI CountedCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                 DWORD disposition, DWORD flags, HANDLE templateFile) {
    ++realOpens;
    return CreateFileW(path, access, share, security, disposition, flags, templateFile);
}
BOOL WINAPI SwitchedGetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID out, DWORD size) {
    if (realIdListing) return GetFileInformationByHandleEx(file, kind, out, size);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

// The tree tools/bench.sh made on N: with ordinary Linux calls on the mounted ntfs-3g volume.
void RealDriveFigures() {
    const wchar_t* linked = L"N:\\kestrune-bench\\linked.txt";
    if (GetFileAttributesW(linked) == INVALID_FILE_ATTRIBUTES) {
        printf("ntfs-3g drive N: skipped: no tree there (FUSE, mkntfs or ntfs-3g missing, or not made)\n");
        return;
    }
    printf("N: FindFirstFileNameW %s\n", SystemKernel().FindFirstFileNameW ? "present" : "missing (Wine): names = walk");
    KernelApi counted = SystemKernel();
    counted.CreateFileW = CountedCreateFileW;
    counted.GetFileInformationByHandleEx = SwitchedGetFileInformationByHandleEx;
    const KernelApi* previous = ReplaceKernelApi(&counted);
    auto use = [&](const LinkWay& way) {
        counted.FindFirstFileNameW = way.nameCalls ? SystemKernel().FindFirstFileNameW : nullptr;
        counted.FindNextFileNameW = way.nameCalls ? SystemKernel().FindNextFileNameW : nullptr;
        realIdListing = way.idListing;
        realOpens = 0;
    };
    WayFigures("N: real tree", L"N:\\", linked, 5, use, [] { return std::to_string(realOpens) + " opens"; });
    ReplaceKernelApi(previous);
}

void StreamFigures() {
    FakeVolumeSet volumes;
    ScopedFakeKernel binding(volumes);
    volumes.SetStreamCalls(StreamCalls::Absent); // the backup walk's figure; the stream calls read no data
    volumes.AddVolume(L'D');
    volumes.MakeFile(L"D:\\small.bin");
    volumes.MakeFile(L"D:\\large.bin");
    for (int i = 0; i < 4; ++i) {
        volumes.MakeStreamOfSize(L"D:\\small.bin", L"s" + std::to_wstring(i), 256);
        volumes.MakeStreamOfSize(L"D:\\large.bin", L"s" + std::to_wstring(i), 16u << 20);
    }
    std::vector<wchar_t> buffer(4 * MAX_PATH);
    long long moved[2];
    const wchar_t* paths[2] = {L"D:\\small.bin", L"D:\\large.bin"};
    for (int i = 0; i < 2; ++i) {
        volumes.ResetStats();
        ListNamedStreams(paths[i], buffer.data(), buffer.size());
        moved[i] = volumes.Stats().backupBytesRead;
    }
    printf("list streams: bytes moved through BackupRead, streams of 1 KiB %lld, of 64 MiB %lld (%s)\n", moved[0],
           moved[1], moved[0] == moved[1] ? "equal" : "NOT EQUAL");
    // Renaming a 64 MiB stream: the bytes read and written, where the volume renames in place and
    // where it refuses that and the stream is copied.
    for (bool inPlace : {true, false}) {
        volumes.SetStreamRenames(L'D', inPlace);
        volumes.MakeStreamOfSize(L"D:\\large.bin", L"big", 64u << 20);
        volumes.ResetStats();
        bool done = RenameStreamTo(L"\\\\?\\D:\\large.bin:big", L"\\\\?\\D:\\large.bin:moved", L"moved", nullptr) == StreamOutcome::Done;
        printf("stream rename 64 MiB: %lld bytes moved (%s%s)\n", volumes.Stats().bytesRead + volumes.Stats().bytesWritten,
               inPlace ? "renamed in place" : "volume refuses renaming in place: copied", done ? "" : ", FAILED");
        volumes.Api().DeleteFileW(L"D:\\large.bin:moved");
    }
}

// Both overlays as Explorer calls them (path and the attributes it listed) over a folder of 10,000
// files, a tenth offline and a tenth with two links, and 1,000 folders, a tenth of them junctions.
void OverlayFigures(bool byName) {
    FakeVolumeSet volumes;
    ScopedFakeKernel binding(volumes);
    volumes.AddVolume(L'D');
    volumes.SetByNameQueryPresent(byName);
    volumes.MakeFolder(L"D:\\view");
    volumes.MakeFolder(L"D:\\linked");
    std::vector<std::pair<std::wstring, std::string>> items;
    for (int i = 0; i < 11000; ++i) {
        std::wstring path = L"D:\\view\\" + std::to_wstring(i);
        bool file = i < 10000;
        file ? volumes.MakeFile(path) : volumes.MakeFolder(path);
        if (file && i % 10 == 1) volumes.MakeLink(path, L"D:\\linked\\" + std::to_wstring(i));
        if (file && i % 10 == 2) volumes.AddAttributes(path, FILE_ATTRIBUTE_OFFLINE);
        if (!file && i % 10 == 3) volumes.MakeJunction(path, L"D:\\linked");
        items.emplace_back(path, file ? (i % 10 == 2 ? "offline file" : "file") : (i % 10 == 3 ? "reparse folder" : "folder"));
    }
    const std::pair<const char*, int (*)(const wchar_t*, DWORD)> overlays[] = {{"hardlink", HasHardLinkOverlay},
                                                                                {"reparsepoint", HasJunctionOverlay}};
    for (const auto& [overlay, isMember] : overlays) {
        std::map<std::string, FakeStats> costs; // the number of items in `allocations`
        for (const auto& [path, kind] : items) {
            DWORD attributes = volumes.Attributes(path);
            volumes.ResetStats();
            isMember(path.c_str(), attributes);
            FakeStats& cost = costs[kind];
            cost.kernelCalls += volumes.Stats().kernelCalls, cost.fileOpens += volumes.Stats().fileOpens, ++cost.allocations;
        }
        for (const char* kind : {"file", "folder", "offline file", "reparse folder"})
            printf("%soverlay %s %s: %.2f kernel calls per item, %.2f opens per item\n", byName ? "with GetFileInformationByName: " : "",
                   overlay, kind, static_cast<double>(costs[kind].kernelCalls) / costs[kind].allocations,
                   static_cast<double>(costs[kind].fileOpens) / costs[kind].allocations);
    }
}

struct QuietSink : LinkSink {
    int failed = 0;
    bool GoOn(size_t, const wchar_t*) override { return true; }
    void Made(const wchar_t*, const wchar_t*, bool) override {}
    void Failed(const wchar_t*, LinkFailure, DWORD) override { ++failed; }
};

// Hard links for a drop of 10,000 files, each run on fresh volumes, against a bare loop of
// CreateHardLinkW that makes the same links under names it already knows; with every first name
// taken in the target, the drop must go on to the series' second name for each.
void DropFigures() {
    constexpr int kFiles = 10000;
    for (bool taken : {false, true}) {
        std::vector<std::wstring> sources, bareNames;
        NameList items;
        for (int i = 0; i < kFiles; ++i) {
            std::wstring name = L"file" + std::to_wstring(i) + L".dat";
            sources.push_back(L"\\\\?\\D:\\src\\" + name);
            bareNames.push_back(L"\\\\?\\D:\\dst\\" + std::wstring(taken ? L"Hard link to " : L"") + name);
            std::wstring item = L"D:\\src\\" + name;
            items.Add(item.c_str(), item.size());
        }
        // One bare run, then one drop, five times: the fastest of each, as the machine is shared.
        auto once = [&](auto make) {
            FakeVolumeSet volumes;
            ScopedFakeKernel binding(volumes);
            volumes.AddVolume(L'D');
            volumes.MakeFolder(L"D:\\src");
            volumes.MakeFolder(L"D:\\dst");
            for (int i = 0; i < kFiles; ++i) {
                volumes.MakeFile(sources[i]);
                if (taken) volumes.MakeFile(L"D:\\dst\\file" + std::to_wstring(i) + L".dat");
            }
            double start = Seconds();
            int made = make();
            double elapsed = Seconds() - start;
            if (made != kFiles) printf("only %d of %d links made\n", made, kFiles);
            return elapsed;
        };
        QuietSink sink;
        LinkSeries series = {L"Hard link to ", L"Hard link (%d) to "};
        double bare = 1e9, drop = 1e9;
        for (int run = 0; run < 5; ++run) {
            bare = std::min(bare, once([&] {
                int made = 0;
                for (int i = 0; i < kFiles; ++i) made += Kernel().CreateHardLinkW(bareNames[i].c_str(), sources[i].c_str(), nullptr) ? 1 : 0;
                return made;
            }));
            drop = std::min(drop, once([&] { return MakeDropLinks(LinkKind::Hard, L"D:\\dst", items, series, sink); }));
        }
        printf("drop %d files%s: %.2f x bare loop (%.4f s against %.4f s)\n", kFiles, taken ? ", names taken" : "", drop / bare,
               drop, bare);
    }
}

} // namespace

// "real": the real drive's figures only; "drop": the drop's figures only.
int main(int argc, char** argv) {
    bool realOnly = argc > 1 && std::string(argv[1]) == "real";
    if (argc > 1 && std::string(argv[1]) == "drop") return DropFigures(), 0;
    if (!realOnly) DropFigures();
    if (!realOnly) OverlayFigures(false), OverlayFigures(true);
    for (int files : {10000, 100000, 1000000})
        if (!realOnly) EnumerationFigures(files);
    RealDriveFigures();
    if (!realOnly) StreamFigures();
    return 0;
}
