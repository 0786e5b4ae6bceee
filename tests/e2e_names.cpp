// Every file name works: names in any script, the code-page-1252 letters
// 0x80 to 0x9F and names with blanks, as the source, the destination, their
// folder and the folder a run starts in (where its conversiontable.hex
// lies), named relatively and absolutely; on Windows also with forward
// slashes, as extended-length, device, UNC and long paths.  The console text
// names them byte for byte: the harness sends standard output to a file,
// where a Windows run writes UTF-8 with CR LF line ends (the harness checks
// every line end), and a POSIX run writes the bytes it was given, whatever
// they are.
#include "bmp_builder.h"
#include "e2e_support.h"
#include "fixtures.h"
#include "host_only.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace fs = std::filesystem;
using e2e::Scratch;
using fixtures::Bytes;

namespace {

#if defined(_WIN32)
const std::string sep = "\\";
const std::string exeSuffix = ".exe";
#else
const std::string sep = "/";
const std::string exeSuffix;
#endif

// Names of the kinds a modder gives maps and folders.
struct Name {
    const char *what;
    std::string text;
};
const Name names[] = {
    {"Cyrillic", "Сталинград"},
    {"Greek", "Ελλάδα"},
    {"CJK", "地图"},
    {"euro sign, 0x80 in code page 1252", "€map"},
    {"OE ligature, 0x8C in code page 1252", "Œ"},
    {"e acute, 0xE9 in code page 1252", "é"},
    {"blanks", "level one  two"},
    {"all of them", "карта Ελλάδα 地图 €Œé"},
};

const Bytes sourceBytes = {0, 1, 2, 3, 15};
const Bytes builtinOut = {0, 1, 6, 5, 4};
const Bytes table = {9, 8, 7, 6};
const Bytes tableOut = {9, 8, 7, 6, 4};
const std::string tableLine = "tablesize is 4\n";

// The whole console text of a run that converts sourceBytes.
std::string trace(const std::string &source, const std::string &destination, const std::string &tableText,
                  const Bytes &converted)
{
    return fixtures::pathLines(source, destination) + tableText + "found 1 file to open\nfilesize is " +
           std::to_string(sourceBytes.size()) + "\n" + fixtures::consoleValues(sourceBytes, 12) + "\n" +
           fixtures::consoleValues(converted, 16) + std::to_string(converted.size()) + " bytes written\n";
}

// "{dir}" in a case stands for the scratch folder's absolute path.
std::string expand(std::string text, const std::string &dir)
{
    const std::string token = "{dir}";
    for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, at + dir.size()))
        text.replace(at, token.size(), dir);
    return text;
}

// "\n" as the host's console ends a line.
std::string nativeLines(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += e2e::consoleNewline;
        else
            out += c;
    }
    return out;
}

// Every file under the scratch folder, by its path from there with "/",
// in UTF-8, sorted.
std::vector<std::string> filesIn(const Scratch &s)
{
    std::vector<std::string> files;
    for (const auto &e : fs::recursive_directory_iterator(s.dir())) {
        if (!e.is_directory())
            files.push_back(e.path().lexically_relative(s.dir()).generic_u8string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

using Files = std::vector<std::pair<std::string, Bytes>>;

struct NameCase {
    std::string what;
    Files before;        // made before the run; paths with "/" from the scratch folder
    std::string folder;  // where the run starts, from the scratch folder
    std::vector<std::string> args;
    std::string out;  // the whole console text, lines ending in "\n"
    int status;
    Files after;  // new files the run must write, with their bytes
};

// Runs the case and checks the console text (as given, and its bytes as
// they reached the file), the status, every file written, and that nothing
// else appeared anywhere in the scratch folder: no file under a mangled name,
// no temporary.
void checkNames(const NameCase &c)
{
    SCOPED_TRACE(c.what);
    Scratch s("names");
    for (const auto &f : c.before) {
        fs::create_directories((s / f.first).parent_path());
        s.write(f.first, f.second);
    }
    if (!c.folder.empty())
        fs::create_directories(s / c.folder);
    const std::string dir = e2e::utf8Of(s.dir());
    std::vector<std::string> args;
    for (const std::string &a : c.args)
        args.push_back(expand(a, dir));
    e2e::RunOptions options;
    options.folder = c.folder;

    const e2e::RunResult r = s.run(args, options);

    const std::string out = expand(c.out, dir);
    EXPECT_EQ(r.out, out);
    EXPECT_EQ(r.rawOut, nativeLines(out)) << "the bytes of the redirected console text";
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, "");
    std::vector<std::string> expected;
    for (const auto &f : c.before)
        expected.push_back(f.first);
    for (const auto &f : c.after) {
        expected.push_back(f.first);
        try {
            EXPECT_EQ(s.read(f.first), f.second) << f.first;
        } catch (const std::exception &e) {
            ADD_FAILURE() << e.what();
        }
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(filesIn(s), expected);
}

// The literals below reach the program as UTF-8 only if the compiler read
// this file as UTF-8 (MSVC needs /utf-8): pin a few of their bytes.
TEST(FileNames, TheTestsNamesAreUtf8)
{
    EXPECT_EQ(std::string("é"), "\xC3\xA9");
    EXPECT_EQ(std::string("€"), "\xE2\x82\xAC");
    EXPECT_EQ(std::string("Œ"), "\xC5\x92");
    EXPECT_EQ(std::string("С"), "\xD0\xA1");
    EXPECT_EQ(std::string("地"), "\xE5\x9C\xB0");
}

// Each name as the source, as the destination, as the folder of both
// (relative and absolute), and as the folder the run starts in, with its own
// conversiontable.hex there.
TEST(FileNames, EveryNameAsSourceDestinationAndFolder)
{
    std::vector<NameCase> cases;
    for (const Name &n : names) {
        const std::string raw = n.text + ".raw";
        const std::string mat = n.text + ".mat";
        const std::string inFolder = n.text + "/" + raw;  // the scratch side always has "/"
        const std::string matInFolder = n.text + "/" + mat;
        const std::string rawArg = n.text + sep + raw;
        const std::string matArg = n.text + sep + mat;
        const std::string absRaw = "{dir}" + sep + rawArg;
        const std::string absMat = "{dir}" + sep + matArg;
        const std::string what = n.what;
        cases.push_back({what + ": source", {{raw, sourceBytes}}, "", {raw},
                         trace(raw, fixtures::defaultDestination, fixtures::noTable, builtinOut), 0,
                         {{fixtures::defaultDestination, builtinOut}}});
        cases.push_back({what + ": destination", {{"in.raw", sourceBytes}}, "", {"in.raw", mat},
                         trace("in.raw", mat, fixtures::noTable, builtinOut), 0, {{mat, builtinOut}}});
        cases.push_back({what + ": folder of source and destination", {{inFolder, sourceBytes}}, "",
                         {rawArg, matArg}, trace(rawArg, matArg, fixtures::noTable, builtinOut), 0,
                         {{matInFolder, builtinOut}}});
        cases.push_back({what + ": absolute paths", {{inFolder, sourceBytes}}, "", {absRaw, absMat},
                         trace(absRaw, absMat, fixtures::noTable, builtinOut), 0, {{matInFolder, builtinOut}}});
        cases.push_back({what + ": the folder the run starts in, with its table",
                         {{n.text + "/" + fixtures::defaultSource, sourceBytes},
                          {n.text + "/" + fixtures::tableFile, table}},
                         n.text, {}, trace(fixtures::defaultSource, fixtures::defaultDestination, tableLine, tableOut),
                         0, {{n.text + "/" + fixtures::defaultDestination, tableOut}}});
        cases.push_back({what + ": all at once, from a folder of that name",
                         {{n.text + "/" + inFolder, sourceBytes}, {n.text + "/" + fixtures::tableFile, table}},
                         n.text, {rawArg, matArg}, trace(rawArg, matArg, tableLine, tableOut), 0,
                         {{n.text + "/" + matInFolder, tableOut}}});
    }
    for (const NameCase &c : cases)
        checkNames(c);
}

// The lines that name a path in a refusal or a bitmap's trace, and the
// program's own name in its usage and version texts.
TEST(FileNames, NamesInMessages)
{
    using namespace fixtures;
    const std::string bmp = "地图 Сталинград €.bmp";
    const BmpLayout good = small8();
    BmpLayout wrongColours = small8();
    wrongColours.biClrUsed = 15;
    BmpLayout cut = small8();
    cut.cutAt = 10;
    const std::string head = traceHead(bmp);
    const NameCase cases[] = {
        {"an 8-bit bitmap", {{bmp, buildBmp(good)}}, "", {bmp}, successTrace(bmp, 8, 4, good.pixels), 0,
         {{defaultDestination, expectedDestination(8, 4, good.pixels)}}},
        {"a bitmap header cut short", {{bmp, buildBmp(cut)}}, "", {bmp},
         head + "Error reading " + bmp + " bitmap header\n\n", 7, {}},
        {"a bitmap whose colour count is wrong", {{bmp, buildBmp(wrongColours)}}, "", {bmp},
         head + bmp + " bitmap file allocated colors mismatch.\n\n", 17, {}},
        {"a third path", {}, "", {"a.raw", "b.mat", "лишний €"}, "What do I do with this: лишний € ? \n", 2, {}},
        {"a path after /D and its path", {}, "", {"/D", "test.mat", "Œ é"}, "What do I do with this: Œ é ? \n", 2,
         {}},
        {"a source that is not there", {}, "", {"Ελλάδα.raw"},
         pathLines("Ελλάδα.raw", defaultDestination) + noTable + "found 0 file to open\nError opening input file.\n\n",
         7, {}},
    };
    for (const NameCase &c : cases)
        checkNames(c);

    // The program file renamed: its usage and version texts give the name.
    Scratch s("program");
    const std::string program = "матконв 地图" + exeSuffix;
    fs::copy_file(e2e::pathOf(e2e::matconvPath()), s / program);
    const std::string path = e2e::utf8Of(s / program);
    const e2e::RunResult v = s.runProgram(path, {"/V"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out, versionLine(program));
    EXPECT_EQ(v.rawOut, nativeLines(versionLine(program)));
    const e2e::RunResult h = s.runProgram(path, {"/?"});
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(h.out, usageText(program));
}

// On POSIX hosts a name is bytes: ones that are no UTF-8 at all reach the
// file system and the console unchanged.  (On Windows a name is UTF-16 and
// has no such bytes.)
TEST(FileNames, BytesThatAreNoUtf8PassThrough)
{
    TEST_NEEDS_POSIX("file names that are bytes, not characters");
#if !defined(_WIN32)
    const std::string latin1 = "karte_\xE9\xFC.raw";  // ISO 8859-1 "éü"
    const std::string lone = "map\x80\xFF.mat";
    checkNames({"invalid UTF-8 as source and destination",
                {{latin1, sourceBytes}},
                "",
                {latin1, lone},
                trace(latin1, lone, fixtures::noTable, builtinOut),
                0,
                {{lone, builtinOut}}});
#endif
}

#if defined(_WIN32)

bool underWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring wide(const std::string &utf8) { return e2e::pathOf(utf8).wstring(); }

#endif

// Windows spellings of an absolute path: a drive letter with forward
// slashes, the extended-length prefix "\\?\" (no parsing by the system, no
// length limit) and the device prefix "\\.\".
TEST(FileNames, WindowsPathSpellings)
{
    TEST_NEEDS_WINDOWS("drive letters and the \\\\?\\ and \\\\.\\ prefixes");
#if defined(_WIN32)
    std::vector<NameCase> cases;
    for (const Name &n : names) {
        const std::string what = n.what;
        const std::string inFolder = n.text + "/" + n.text + ".raw";
        const std::string matInFolder = n.text + "/" + n.text + ".mat";
        const std::string back = "{dir}\\" + n.text + "\\" + n.text;
        const std::string forward = "{dir}/" + n.text + "/" + n.text;
        struct Spelling {
            const char *what;
            std::string source;
            std::string destination;
        };
        const Spelling spellings[] = {
            {": drive letter, forward slashes", forward + ".raw", forward + ".mat"},
            {": extended-length path", "\\\\?\\" + back + ".raw", "\\\\?\\" + back + ".mat"},
            {": device path", "\\\\.\\" + back + ".raw", "\\\\.\\" + back + ".mat"},
        };
        for (const Spelling &sp : spellings) {
            cases.push_back({what + sp.what, {{inFolder, sourceBytes}}, "", {sp.source, sp.destination},
                             trace(sp.source, sp.destination, fixtures::noTable, builtinOut), 0,
                             {{matInFolder, builtinOut}}});
        }
    }
    for (const NameCase &c : cases) {
        checkNames(c);
        if (HasFatalFailure())
            return;
    }
    // The scratch folder, and so every path above, starts with a drive letter.
    Scratch s("drive");
    const std::string dir = e2e::utf8Of(s.dir());
    ASSERT_GE(dir.size(), 3u);
    EXPECT_EQ(dir.substr(1, 2), ":\\") << dir;
#endif
}

#if defined(_WIN32)

// A UNC share whose folder the test can also reach by a local path.  Under
// wine, \\localhost\<share> is the folder dosdevices\unc\localhost\<share>
// of the wine prefix, which this makes; on Windows, the scratch folder
// through the administrative share of its drive (\\localhost\C$\...), which
// only an administrator's elevated process may use.
struct UncShare {
    fs::path local;   // where the test makes and reads the files
    std::string unc;  // the same folder as a UNC path, UTF-8
    std::string why;  // empty when usable, else why not
};

UncShare uncShare(const Scratch &s)
{
    UncShare share;
    if (underWine()) {
        // wine_get_unix_file_name is wine's own: C:\ as the Unix path of the
        // prefix's dosdevices\c:, whose folder holds the UNC tree.
        using UnixName = char *(CDECL *)(const WCHAR *);
        using DosName = WCHAR *(CDECL *)(const char *);
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        const auto unixName = reinterpret_cast<UnixName>(
            reinterpret_cast<void (*)()>(GetProcAddress(kernel, "wine_get_unix_file_name")));
        const auto dosName = reinterpret_cast<DosName>(
            reinterpret_cast<void (*)()>(GetProcAddress(kernel, "wine_get_dos_file_name")));
        if (unixName == nullptr || dosName == nullptr) {
            share.why = "this wine has no wine_get_unix_file_name";
            return share;
        }
        char *drive = unixName(L"C:\\");
        std::string unixPath = drive != nullptr ? drive : "";
        HeapFree(GetProcessHeap(), 0, drive);
        const std::size_t cut = unixPath.find("/dosdevices/");
        if (cut == std::string::npos) {
            share.why = "C:\\ is " + unixPath + ", not in a prefix's dosdevices";
            return share;
        }
        const std::string name = "matconv-e2e-" + std::to_string(GetCurrentProcessId());
        const std::string folder = unixPath.substr(0, cut) + "/dosdevices/unc/localhost/" + name;
        WCHAR *dos = dosName(folder.c_str());
        if (dos == nullptr) {
            share.why = "no DOS path for " + folder;
            return share;
        }
        share.local = fs::path(dos);
        HeapFree(GetProcessHeap(), 0, dos);
        std::error_code ec;
        fs::remove_all(share.local, ec);
        fs::create_directories(share.local);
        share.unc = "\\\\localhost\\" + name;
        return share;
    }
    const std::string dir = e2e::utf8Of(s.dir());
    share.local = s.dir();
    share.unc = "\\\\localhost\\" + dir.substr(0, 1) + "$" + dir.substr(2);
    if (GetFileAttributesW(wide(share.unc).c_str()) == INVALID_FILE_ATTRIBUTES)
        share.why = "the administrative share " + share.unc.substr(0, 14) +
                    " cannot be reached (it needs an elevated administrator)";
    return share;
}

#endif

// A source and destination named by a UNC path, \\server\share\... and its
// extended-length form \\?\UNC\server\share\..., each name in its folder.
TEST(FileNames, UncPaths)
{
    TEST_NEEDS_WINDOWS("UNC paths");
#if defined(_WIN32)
    Scratch s("unc");
    const UncShare share = uncShare(s);
    if (!share.why.empty())
        GTEST_SKIP() << share.why;
    struct Removed {
        fs::path folder;
        bool own;
        ~Removed()
        {
            std::error_code ec;
            if (own)
                fs::remove_all(folder, ec);
        }
    } cleanup{share.local, share.local != s.dir()};

    for (const Name &n : names) {
        for (const std::string &prefix : {share.unc, "\\\\?\\UNC\\" + share.unc.substr(2)}) {
            SCOPED_TRACE(std::string(n.what) + ": " + prefix);
            const fs::path folder = share.local / e2e::pathOf(n.text);
            fs::create_directories(folder);
            e2e::writeFile(folder / e2e::pathOf(n.text + ".raw"), sourceBytes);
            const std::string source = prefix + "\\" + n.text + "\\" + n.text + ".raw";
            const std::string destination = prefix + "\\" + n.text + "\\" + n.text + ".mat";
            const e2e::RunResult r = s.run({source, destination});
            EXPECT_EQ(r.out, trace(source, destination, fixtures::noTable, builtinOut));
            EXPECT_EQ(r.rawOut, nativeLines(r.out));
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(e2e::readFile(folder / e2e::pathOf(n.text + ".mat")), builtinOut);
            std::vector<std::string> left;
            for (const auto &e : fs::directory_iterator(folder))
                left.push_back(e2e::utf8Of(e.path().filename()));
            std::sort(left.begin(), left.end());
            EXPECT_EQ(left, (std::vector<std::string>{n.text + ".mat", n.text + ".raw"}));
            fs::remove_all(folder);
        }
    }
#endif
}

#if defined(_WIN32)

// Folders and files past MAX_PATH (260 UTF-16 units), made and removed by
// the test through "\\?\" paths, which the test's own process needs there.
struct LongFolder {
    std::wstring path;  // "\\?\" and the folder's absolute path
    std::vector<std::wstring> made;
    ~LongFolder()
    {
        for (const std::wstring &file : {path + L"\\in.raw", path + L"\\out.mat"})
            DeleteFileW(file.c_str());
        for (auto it = made.rbegin(); it != made.rend(); ++it)
            RemoveDirectoryW(it->c_str());
    }
};

// A folder more than 300 UTF-16 units deep under the scratch folder, each
// level named in Cyrillic.
void makeLongFolder(const Scratch &s, LongFolder *f)
{
    f->path = L"\\\\?\\" + s.dir().wstring();
    while (f->path.size() < 320) {
        f->path += L"\\" + wide("Сталинград уровень");
        ASSERT_TRUE(CreateDirectoryW(f->path.c_str(), nullptr)) << "error " << GetLastError();
        f->made.push_back(f->path);
    }
    const HANDLE h = CreateFileW((f->path + L"\\in.raw").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "error " << GetLastError();
    DWORD written = 0;
    const BOOL ok = WriteFile(h, sourceBytes.data(), static_cast<DWORD>(sourceBytes.size()), &written, nullptr);
    CloseHandle(h);
    ASSERT_TRUE(ok && written == sourceBytes.size());
}

Bytes readLong(const std::wstring &path)
{
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return Bytes{'n', 'o', 'n', 'e'};
    Bytes b(1024);
    DWORD got = 0;
    ReadFile(h, b.data(), static_cast<DWORD>(b.size()), &got, nullptr);
    CloseHandle(h);
    b.resize(got);
    return b;
}

std::string utf8(const std::wstring &w) { return e2e::utf8Of(fs::path(w)); }

// Whether this Windows lets a program whose manifest says longPathAware
// use paths past MAX_PATH without "\\?\": Windows 10 1607 and later, with
// LongPathsEnabled set.  Wine has no such limit.
bool plainLongPathsAllowed(std::string *why)
{
    if (underWine())
        return true;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LSTATUS got = RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\FileSystem",
                                     L"LongPathsEnabled", RRF_RT_REG_DWORD, nullptr, &value, &size);
    if (got == ERROR_SUCCESS && value == 1)
        return true;
    *why = "LongPathsEnabled is not set on this Windows: only \\\\?\\ paths pass MAX_PATH";
    return false;
}

#endif

// A destination and source more than MAX_PATH deep, in the "\\?\" form,
// which every Windows allows.
TEST(LongPaths, ExtendedLengthForm)
{
    TEST_NEEDS_WINDOWS("Windows paths past MAX_PATH");
#if defined(_WIN32)
    Scratch s("long");
    LongFolder folder;
    makeLongFolder(s, &folder);
    if (HasFatalFailure())
        return;
    const std::string source = utf8(folder.path + L"\\in.raw");
    const std::string destination = utf8(folder.path + L"\\out.mat");
    ASSERT_GT(folder.path.size(), 300u);
    const e2e::RunResult r = s.run({source, destination});
    EXPECT_EQ(r.out, trace(source, destination, fixtures::noTable, builtinOut));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readLong(folder.path + L"\\out.mat"), builtinOut);
#endif
}

// The same without "\\?\", as a user types it: matconv.exe declares itself
// longPathAware, which counts where Windows has long paths turned on.
TEST(LongPaths, PlainFormWhereWindowsAllowsIt)
{
    TEST_NEEDS_WINDOWS("Windows paths past MAX_PATH");
#if defined(_WIN32)
    std::string why;
    if (!plainLongPathsAllowed(&why))
        GTEST_SKIP() << why;
    Scratch s("long");
    LongFolder folder;
    makeLongFolder(s, &folder);
    if (HasFatalFailure())
        return;
    const std::string plain = utf8(folder.path.substr(4));
    const std::string source = plain + "\\in.raw";
    const std::string destination = plain + "\\out.mat";
    const e2e::RunResult r = s.run({source, destination});
    EXPECT_EQ(r.out, trace(source, destination, fixtures::noTable, builtinOut));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(readLong(folder.path + L"\\out.mat"), builtinOut);
#endif
}

} // namespace
