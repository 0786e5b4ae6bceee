// End-to-end checks of what only the Windows build has: the version
// information and the manifest inside matconv.exe, the console window that
// stays open only for a run started in a window of its own, and
// convert-here.bat, the batch file a map is dropped on.  The tests exist on
// every host and are skipped, with their reason, where Windows is not.
#include "e2e_support.h"
#include "host_only.h"

#include <gtest/gtest.h>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using e2e::Bytes;
using e2e::Scratch;
#endif

namespace {

#if defined(_WIN32)

// Longer than any run of the program takes even on a loaded machine under
// wine: a run still going by then is waiting for input it will never get.
constexpr DWORD hangMilliseconds = 120000;

const std::string projectVersion = MATCONV_PROJECT_VERSION;
const std::string versionText = projectVersion + "-" MATCONV_VERSION_SUFFIX;

std::wstring wide(const std::string &s) { return e2e::pathOf(s).wstring(); }

// For the version strings, which are ASCII: anything else shows as "?".
std::string narrow(const std::wstring &s)
{
    std::string out;
    for (wchar_t c : s)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

HANDLE inheritable(const fs::path &p, DWORD access, DWORD creation)
{
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    return CreateFileW(p.wstring().c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct Outcome {
    bool started = false;
    bool finished = false;  // false: still running after hangMilliseconds, then ended
    DWORD status = 0;
    std::string out;  // standard output and standard error, as written
};

// Runs application with the whole command line given, in dir, with input
// from `input` and output to a file.  A run that has not ended after
// hangMilliseconds is ended, so that a wait for input fails the test
// instead of hanging the suite.
Outcome runWith(const std::wstring &application, const std::wstring &commandLine, const fs::path &dir,
                HANDLE input, const fs::path &outFile)
{
    Outcome o;
    HANDLE out = inheritable(outFile, GENERIC_WRITE, CREATE_ALWAYS);
    if (out == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot create " << e2e::utf8Of(outFile);
        return o;
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = input;
    si.hStdOutput = out;
    si.hStdError = out;
    PROCESS_INFORMATION pi{};
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    const BOOL started = CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        dir.wstring().c_str(), &si, &pi);
    const DWORD why = GetLastError();
    CloseHandle(out);
    if (!started) {
        ADD_FAILURE() << "cannot start " << e2e::utf8Of(commandLine) << " (error " << why << ")";
        return o;
    }
    o.started = true;
    o.finished = WaitForSingleObject(pi.hProcess, hangMilliseconds) == WAIT_OBJECT_0;
    if (!o.finished) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
    }
    GetExitCodeProcess(pi.hProcess, &o.status);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    const Bytes text = e2e::readFile(outFile);
    o.out.assign(text.begin(), text.end());
    return o;
}

std::string withoutCR(const std::string &s)
{
    std::string t;
    for (char c : s) {
        if (c != '\r')
            t += c;
    }
    return t;
}

// ---------------------------------------------------------------------------
// The resources: what Explorer's Properties > Details and Windows itself read.

std::wstring versionString(const std::vector<unsigned char> &info, const wchar_t *name)
{
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    void *value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(info.data(), key.c_str(), &value, &length) || value == nullptr)
        return L"(missing)";
    return std::wstring(static_cast<const wchar_t *>(value));
}

// "0.1" as the four numbers of a Windows file version, missing ones 0.
std::vector<unsigned> versionNumbers(const std::string &dotted)
{
    std::vector<unsigned> n;
    std::istringstream in(dotted);
    std::string part;
    while (std::getline(in, part, '.'))
        n.push_back(static_cast<unsigned>(std::stoul(part)));
    n.resize(4, 0);
    return n;
}

#endif

// The version information carries the version the program itself prints
// for "/V", and the project's name, in the strings and in the numbers.
TEST(Resources, VersionInformationIsTheProgramsVersion)
{
    TEST_NEEDS_WINDOWS("the version resource of matconv.exe");
#if defined(_WIN32)
    const std::wstring exe = wide(e2e::matconvPath());
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version information in " << e2e::matconvPath();
    std::vector<unsigned char> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));

    Scratch s("version");
    const e2e::RunResult v = s.run({"/V"});
    ASSERT_EQ(v.status, 0);
    const std::string printed = "Version ";
    const std::size_t at = v.out.find(printed);
    ASSERT_NE(at, std::string::npos) << v.out;
    const std::string programVersion = v.out.substr(at + printed.size(), v.out.find('\n') - at - printed.size());
    EXPECT_EQ(programVersion, versionText);

    EXPECT_EQ(narrow(versionString(info, L"FileVersion")), programVersion);
    EXPECT_EQ(narrow(versionString(info, L"ProductVersion")), programVersion);
    EXPECT_EQ(narrow(versionString(info, L"OriginalFilename")), e2e::programFileName());
    EXPECT_EQ(narrow(versionString(info, L"ProductName")), "matconv");
    const std::string description = narrow(versionString(info, L"FileDescription"));
    EXPECT_EQ(description.rfind("matconv: ", 0), 0u) << description;
    EXPECT_NE(description.find("BF1942"), std::string::npos) << description;

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void **>(&fixed), &length));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const std::vector<unsigned> want = versionNumbers(projectVersion);
    const std::vector<unsigned> file = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                                        HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS)};
    const std::vector<unsigned> product = {HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
                                           HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS)};
    EXPECT_EQ(file, want);
    EXPECT_EQ(product, want);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
#endif
}

#if defined(_WIN32)
std::string manifestOf(const std::wstring &exe)
{
    HMODULE m = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (m == nullptr)
        return "";
    std::string text;
    HRSRC r = FindResourceW(m, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    if (r != nullptr) {
        HGLOBAL g = LoadResource(m, r);
        const char *bytes = g != nullptr ? static_cast<const char *>(LockResource(g)) : nullptr;
        if (bytes != nullptr)
            text.assign(bytes, SizeofResource(m, r));
    }
    FreeLibrary(m);
    return text;
}
#endif

// The manifest is the process's own (resource 1), Windows accepts it, and
// it declares what the program relies on.
TEST(Resources, ManifestDeclaresWindowsVersionsAndLongPaths)
{
    TEST_NEEDS_WINDOWS("the application manifest of matconv.exe");
#if defined(_WIN32)
    const std::wstring exe = wide(e2e::matconvPath());
    const std::string manifest = manifestOf(exe);
    ASSERT_NE(manifest, "") << "no manifest resource 1 in " << e2e::matconvPath();

    const char *expected[] = {
        // Vista, 7, 8, 8.1, 10 and 11.
        "<supportedOS Id=\"{e2011457-1546-43c5-a5fe-008deee3d3f0}\"/>",
        "<supportedOS Id=\"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}\"/>",
        "<supportedOS Id=\"{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}\"/>",
        "<supportedOS Id=\"{1f676c76-80e1-4239-95bb-83d0f6d0da78}\"/>",
        "<supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\"/>",
        "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>",
        "<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>",
    };
    for (const char *e : expected)
        EXPECT_NE(manifest.find(e), std::string::npos) << e << "\nin:\n" << manifest;
    const std::vector<unsigned> n = versionNumbers(projectVersion);
    const std::string identity = "name=\"matconv\" version=\"" + std::to_string(n[0]) + "." + std::to_string(n[1]) +
                                 "." + std::to_string(n[2]) + "." + std::to_string(n[3]) + "\"";
    EXPECT_NE(manifest.find(identity), std::string::npos) << identity << "\nin:\n" << manifest;

    // The loader parses it as it would at every start: a malformed manifest
    // would stop the program from starting at all.
    ACTCTXW ctx{};
    ctx.cbSize = sizeof ctx;
    ctx.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    ctx.lpSource = exe.c_str();
    ctx.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE h = CreateActCtxW(&ctx);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "the manifest is refused, error " << GetLastError();
    if (h != INVALID_HANDLE_VALUE)
        ReleaseActCtx(h);
#endif
}

// ---------------------------------------------------------------------------
// The console window is held open only for a run in a console of its own.

#if defined(_WIN32)
std::wstring inQuotes(const fs::path &p) { return L"\"" + p.wstring() + L"\""; }
#endif

// A run whose input or output is not a console never waits, even when its
// input stays open and would block a read for ever: it prints only its
// trace and ends.
TEST(ConsoleHold, RedirectedRunNeverWaits)
{
    TEST_NEEDS_WINDOWS("the console of a Windows process");
#if defined(_WIN32)
    Scratch s("hold");
    Scratch io("hold-io");
    s.write("materialmap.raw", Bytes{0, 1, 2, 3});
    const std::string trace = "materialmap.raw is the inpath\n"
                              "HeightmapPrimary.mat is the outpath\n"
                              "didn't find conversiontable.hex,using built-in\n"
                              "found 1 file to open\n"
                              "filesize is 4\n"
                              "0 1 2 3 0 0 0 0 0 0 0 0 \n"
                              "0 1 6 5 0 0 0 0 0 0 0 0 0 0 0 0 4 bytes written\n";
    const std::wstring exe = wide(e2e::matconvPath());

    // Input from a pipe whose writing end stays open here, never written.
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &sa, 0));
    SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(nul, INVALID_HANDLE_VALUE);

    struct Case {
        const char *what;
        HANDLE input;
    };
    const Case cases[] = {
        {"input from an open pipe, output to a file", readEnd},
        {"input from NUL, output to a file", nul},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome o = runWith(exe, inQuotes(exe), s.dir(), c.input, io / "out");
        ASSERT_TRUE(o.started);
        EXPECT_TRUE(o.finished) << "still running: it waits for input although it was redirected";
        EXPECT_EQ(o.status, 0u);
        EXPECT_EQ(withoutCR(o.out), trace);
    }
    CloseHandle(nul);
    CloseHandle(readEnd);
    CloseHandle(writeEnd);
#endif
}

// ---------------------------------------------------------------------------
// convert-here.bat: a map dropped on it is converted in the map's own folder.

#if defined(_WIN32)
Bytes codes(std::initializer_list<int> values)
{
    Bytes b;
    for (int v : values)
        b.push_back(static_cast<unsigned char>(v));
    return b;
}

std::wstring systemCmd()
{
    wchar_t folder[MAX_PATH];
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, n) + L"\\cmd.exe";
}

bool isAscii(const std::string &s)
{
    for (char c : s) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}
#endif

// The release's layout (the batch file beside matconv.exe, with the shipped
// table) in one folder, the map in another with or without a table of its
// own, and cmd started as Explorer starts it for a drop, from yet another
// folder.  The destination lands beside the map, made with that folder's
// table, and the batch file ends with matconv's status.  Folder and map
// names hold blanks, and in one case Cyrillic letters as in a user folder
// such as "C:\Users\Дмитрий": cmd hands the dropped path on in UTF-16, so
// the batch file needs no code page of its own.
TEST(ConvertHere, ConvertsTheDroppedMapInItsOwnFolder)
{
    TEST_NEEDS_WINDOWS("cmd.exe and a batch file");
#if defined(_WIN32)
    struct Case {
        const char *what;
        std::string release;  // the release's folder, in the scratch folder
        std::string folder;   // the map's folder, in the scratch folder
        std::string map;
        Bytes source;
        bool withTable;  // a conversiontable.hex in the map's folder
        Bytes table;
        DWORD status;
        Bytes destination;  // empty: none is written
        std::string line;   // a line the batch file shows
    };
    const Bytes raw = codes({0, 1, 2, 3, 15});
    const std::string release = "matconv 0.1";
    const std::string maps = "BF1942 maps/level one";
    const Case cases[] = {
        {"raw map, the folder's own table", release, maps, "level one.raw", raw, true, codes({9, 8, 7, 6}), 0,
         codes({9, 8, 7, 6, 4}), "Done: HeightmapPrimary.mat was written in \""},
        {"raw map, no table there: the built-in one", release, maps, "level one.raw", raw, false, {}, 0,
         codes({0, 1, 6, 5, 4}), "Done: HeightmapPrimary.mat was written in \""},
        {"a map the program refuses: its status", release, maps, "not a bitmap.bmp",
         codes({'X', 'Y', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), false, {}, 16, {},
         "matconv stopped with status 16: no new HeightmapPrimary.mat was written."},
        {"an empty table there: its status", release, maps, "level one.raw", raw, true, codes({}), 7, {},
         "matconv stopped with status 7: no new HeightmapPrimary.mat was written."},
        {"Cyrillic and blanks in every folder and in the map's name", "Users/Дмитрий/Загрузки/matconv 0.1",
         "Users/Дмитрий/карты мод", "Сталинград 1942.raw", raw, true, codes({9, 8, 7, 6}), 0,
         codes({9, 8, 7, 6, 4}), "Done: HeightmapPrimary.mat was written in \""},
        {"Cyrillic names, a refused map: its status", "Users/Дмитрий/Загрузки/matconv 0.1",
         "Users/Дмитрий/карты мод", "Сталинград.bmp", codes({'X', 'Y', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         false, {}, 16, {}, "matconv stopped with status 16: no new HeightmapPrimary.mat was written."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Scratch s("drop");
        Scratch io("drop-io");
        // With backslashes, as Explorer names them.
        const fs::path rel = (s / c.release).make_preferred();
        const fs::path mapDir = (s / c.folder).make_preferred();
        const fs::path map = mapDir / e2e::pathOf(c.map);
        const fs::path elsewhere = s / "started here";
        fs::create_directories(rel);
        fs::create_directories(mapDir);
        fs::create_directories(elsewhere);
        fs::copy_file(e2e::pathOf(e2e::matconvPath()), rel / "matconv.exe");
        fs::copy_file(e2e::pathOf(MATCONV_CONVERT_HERE), rel / "convert-here.bat");
        e2e::writeFile(rel / "conversiontable.hex", codes({0, 1, 6, 5, 8, 8, 9, 7, 3, 3, 2, 2, 12, 2, 8, 4}));
        e2e::writeFile(map, c.source);
        if (c.withTable)
            e2e::writeFile(mapDir / "conversiontable.hex", c.table);

        // As Explorer does for a drop: cmd /c ""batch" "map"".
        const std::wstring line =
            L"cmd.exe /c \"" + inQuotes(rel / "convert-here.bat") + L" " + inQuotes(map) + L"\"";
        HANDLE nul = inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
        ASSERT_NE(nul, INVALID_HANDLE_VALUE);
        const Outcome o = runWith(systemCmd(), line, elsewhere, nul, io / "batch");
        CloseHandle(nul);
        ASSERT_TRUE(o.started);
        ASSERT_TRUE(o.finished) << "the batch file did not end: its pause waits despite input from NUL";
        const std::string text = withoutCR(o.out);
        EXPECT_EQ(o.status, c.status) << text;
        // matconv's own lines are UTF-8 in a redirect, whatever the name.
        EXPECT_NE(text.find(c.map + " is the inpath\nHeightmapPrimary.mat is the outpath\n"), std::string::npos)
            << text;
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
        if (c.destination.empty()) {
            EXPECT_FALSE(fs::exists(mapDir / "HeightmapPrimary.mat"));
        } else {
            EXPECT_EQ(e2e::readFile(mapDir / "HeightmapPrimary.mat"), c.destination);
            // cmd's own echo goes to a redirect in a code page of cmd's
            // choosing (on a console it shows every name as it is), so the
            // folder is looked for only where its name is ASCII.
            const std::string folder = e2e::utf8Of(mapDir);
            if (isAscii(folder)) {
                EXPECT_NE(text.find("\"" + folder + "\"."), std::string::npos)
                    << "the batch file names the folder the map went to\n"
                    << text;
            }
        }
        EXPECT_FALSE(fs::exists(elsewhere / "HeightmapPrimary.mat"));
        EXPECT_FALSE(fs::exists(rel / "HeightmapPrimary.mat"));
    }
#endif
}

// Started without a map (a double-click on the batch file itself), it says
// how it is used and ends with the usage status, converting nothing.
TEST(ConvertHere, WithoutAMapSaysHowToUseIt)
{
    TEST_NEEDS_WINDOWS("cmd.exe and a batch file");
#if defined(_WIN32)
    Scratch s("nodrop");
    Scratch io("nodrop-io");
    fs::copy_file(e2e::pathOf(e2e::matconvPath()), s / "matconv.exe");
    fs::copy_file(e2e::pathOf(MATCONV_CONVERT_HERE), s / "convert-here.bat");
    s.write("materialmap.raw", codes({0, 1, 2}));
    HANDLE nul = inheritable("NUL", GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(nul, INVALID_HANDLE_VALUE);
    const Outcome o = runWith(systemCmd(), L"cmd.exe /c \"" + inQuotes(s / "convert-here.bat") + L"\"", s.dir(), nul,
                              io / "batch");
    CloseHandle(nul);
    ASSERT_TRUE(o.finished);
    EXPECT_EQ(o.status, 2u);
    EXPECT_NE(withoutCR(o.out).find("Drop a material map onto convert-here.bat"), std::string::npos) << o.out;
    EXPECT_FALSE(s.exists("HeightmapPrimary.mat"));
#endif
}

} // namespace
