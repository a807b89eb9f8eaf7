#include "launcher/runflow.h"
#include <objbase.h>
#include <shlwapi.h>
#include "common/boundedtext.h"
#include <vector>
#include "common/errors.h"
#include "common/faultguard.h"
#include "common/filesys.h"
#include "common/osversion.h"
#include "common/pathguard.h"
#include "common/profilefile.h"
#include "common/runfiles.h"
#include "common/sysdll.h"
#include "common/trace.h"
#include "common/tracelog.h"
#include "common/version.h"
#include "launcher/cmdline.h"
#include "launcher/tempfolders.h"
#include "state/config.h"
#include "state/languages.h"
#include "state/langlib.h"
#include "state/pathvar.h"
#include "state/runcontext.h"
#include "state/state.h"
#include "net/connectivity.h"
#include "payload/archive.h"
#include "payload/resources.h"
#include "payload/trailer.h"
#include "common/process.h"
#include "engine/errortext.h"
#include "ui/license.h"
#include "res/resource.h"
#include "ui/msgbox.h"
#include "ui/statuswnd.h"
#include "ui/statusview.h"

namespace {

// Removal flag of RemoveDirectoryTree: the folder with all its content.
const DWORD REMOVE_CONTENTS = 0x2;
const size_t INFO_TEXT_CCH = 512;
// License dialog result that shows the dialog again.
const INT_PTR LICENSE_BACK = 3;
// Where the packer names a configuration it keeps beside the package.
const WCHAR PACKAGE_SECTION[] = L"Package";
const WCHAR CONFIG_FILE_KEY[] = L"ConfigFile";

// Where a step leaves the run: on, to the shutdown, or out at once (help
// shown: 0; no scratch folder: the error code as the exit code).
enum class Next { Continue, Shutdown, Return0, ReturnError };

// What the run holds between start-up and shutdown.
struct RunState {
    HINSTANCE hInst = nullptr;
    int nCmdShow = SW_SHOWNORMAL;
    LPCWSTR lpCmdLine = L"";
    HMODULE hRichEdit = nullptr;
    HMODULE hSkin = nullptr;
    int nSkinFrameTop = 0;         // the skin's frame, for the in-app message zone
    HANDLE hMutex = nullptr;
    HANDLE hScratchLock = INVALID_HANDLE_VALUE;
    BOOL bNeedToRunAsAdmin = FALSE;
    WCHAR szLangLibrary[PATH_CCH] = L"";
    BOOL bHelp = FALSE;            // -?: the list of options, then the end
    BOOL bExtractOnly = FALSE;     // -X:
    BOOL bConfigMissing = FALSE;   // the package names a configuration that is not there
    BOOL bNoConfig = FALSE;        // neither a file beside the package nor an embedded one
    WCHAR szExpectedConfig[PATH_CCH] = L"";
    WORD wLangParam = 0;           // -LANG:, 0 = not forced
    RUNCONTEXT ctx;                // the configuration and the run's places, for all it calls
    SETUPRUN setup{ctx};           // the setup run: its payload, its target, what it leaves
};

BOOL HasOption(const RunState& run, LPCWSTR szName)
{
    return ::HasOption(run.ctx.szCmdLine, szName);
}

BOOL GetOptionValue(const RunState& run, LPCWSTR szName, LPWSTR szValue, size_t cchValue)
{
    return ::GetOptionValue(run.ctx.szCmdLine, szName, szValue, cchValue);
}

void RemoveFolder(LPCWSTR szPath)
{
    BOOL bRemoved = RemoveDirectoryTree(szPath, REMOVE_CONTENTS) == ERROR_SUCCESS;
    DebugTrace(L"WinMain()->Remove folder '%s' (%d)", szPath, bRemoved);
}

BOOL IsDefaultGuid(LPCWSTR szGuid)
{
    return lstrcmpiW(szGuid, TRV_DEFAULT_GUID) == 0;
}

// A failure before the setup phase: its message in the run's language (a
// box, unless the run is silent) and its code as the run's exit code.
Next FailStartUp(const RunState& run, DWORD dwError, ERRORKIND kind, LPCWSTR szPath)
{
    FAILUREINFO failure = {dwError, szPath, 0};
    std::vector<WCHAR> text(MESSAGE_TEXT_CCH, L'\0');
    BuildErrorText(kind, failure, run.ctx, text.data(), MESSAGE_TEXT_CCH);
    std::vector<WCHAR> line(MESSAGE_TEXT_CCH, L'\0');
    OneLineForTrace(text.data(), line.data(), MESSAGE_TEXT_CCH);
    DebugTrace(L"WinMain()->Error %d: %s", dwError, line.data());
    if (!run.setup.bSilent)
        ShowErrorBox(nullptr, run.ctx.szTitle, text.data());
    SetExitCode(dwError);
    return Next::Shutdown;
}

// The log file goes first, so that it gets the very first line as the
// monitor does; the option is traced with the others afterwards.
void OpenLogIfAsked(LPCWSTR lpCmdLine)
{
    std::vector<WCHAR> path(CMDLINE_CCH, L'\0');
    if ((FindOptionValue(lpCmdLine, L"-LOG:", path.data(), CMDLINE_CCH) ||
         FindOptionValue(lpCmdLine, L"/LOG:", path.data(), CMDLINE_CCH)) &&
        wcslen(path.data()) < PATH_CCH) {
        DWORD dwError = OpenTraceLog(path.data());
        if (dwError != ERROR_SUCCESS)
            DebugTrace(L"WinMain()->Log file %s could not be opened (%d): no log", path.data(),
                       dwError);
    }
}

// ---- bootstrap ---------------------------------------------------------

void Begin(RunState& run)
{
    DebugTrace(L"Begin...");
    // A run starts with nothing of an earlier run in this process: no files
    // of its own yet, the system's protected folders alone, no connection
    // check.
    ForgetRunFiles();
    ResetProtectedFolders();
    ForgetConnectionCheck();
    CoInitialize(nullptr);
    // Unread, the version stays unknown and every test of it takes the
    // older system's way.
    (void)GetOSVersion();
    InitPathVar(run.ctx);
    // The folders of the path variables, the one the launcher started in
    // and its own are never removed or emptied, whatever a script says.
    for (const WCHAR* szFolder : run.ctx.szFolders)
        ProtectFolder(szFolder);
    ProtectFolder(run.ctx.szModulePath);
    PrepareProtectedFolders();
}

void TraceArgument(void*, LPCWSTR szText, size_t cchText, BOOL bKnown)
{
    int cch = static_cast<int>(cchText);
    if (bKnown)
        DebugTrace(L"WinMain()->Argument: %.*s", cch, szText);
    else
        DebugTrace(L"WinMain()->Argument: %.*s (not an option of the package: ignored)", cch, szText);
}

// FALSE when the line is longer than the run keeps: cut, an option's value
// would name another folder or file.
BOOL CopyCommandLine(RunState& run, LPCWSTR lpCmdLine)
{
    if (FAILED(StringCchCopyW(run.ctx.szCmdLine, CMDLINE_CCH, lpCmdLine ? lpCmdLine : L""))) {
        run.ctx.szCmdLine[0] = L'\0';
        DebugTrace(L"WinMain()->The command line is longer than %u characters: nothing done",
                   static_cast<unsigned>(CMDLINE_CCH - 1));
        return FALSE;
    }
    DebugTrace(L"WinMain()->CmdLine=%s", run.ctx.szCmdLine);
    // How the line was read, one argument at a time.
    SplitCommandLine(run.ctx.szCmdLine, TraceArgument, nullptr);
    return TRUE;
}

// Options for a run that nobody watches, read before the first box.
void ReadUnattendedOptions(const RunState& run)
{
    if (HasOption(run, L"SUPPRESSMSGBOXES")) {
        g_bSuppressMsgBoxes = TRUE;
        // Nor may the system ask: no critical-error, open-file or crash boxes.
        SetErrorMode(SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX |
                     SEM_NOGPFAULTERRORBOX);
        DebugTrace(L"WinMain()->Message boxes suppressed by parameter");
    }
    WCHAR szLog[PATH_CCH];
    if (GetOptionValue(run, L"LOG:", szLog, ARRAYSIZE(szLog)))
        DebugTrace(L"WinMain()->Log file parameter: %s (%d)", szLog, IsTraceLogOpen());
}

// The list of options, in the package's language when its library has it
// (hRes), else from the program itself.
void ShowHelp(const RunState& run, HINSTANCE hRes)
{
    WCHAR szCaption[TITLE_CCH] = L"";
    std::vector<WCHAR> text(CMDLINE_CCH, L'\0');
    if (hRes == hInstance ||
        !LoadStringEx(hRes, IDS_HELP_TEXT, text.data(), CMDLINE_CCH, ChosenLanguageId(run.ctx)))
        LoadStringW(hInstance, IDS_HELP_TEXT, text.data(), CMDLINE_CCH);
    (void)LoadUiText(IDS_HELP_CAPTION, szCaption, ARRAYSIZE(szCaption));  // else no caption
    TrimTrailingBlanks(text.data());
    ShowMessageBox(nullptr, text.data(), szCaption, MB_ICONINFORMATION);
    DebugTrace(L"WinMain()->Help (?) mode parameter");
}

void ReadLanguageAndCmdLineOptions(RunState& run)
{
    WCHAR szValue[PATH_CCH];
    if (GetOptionValue(run, L"LANG:", szValue, ARRAYSIZE(szValue))) {
        run.wLangParam = static_cast<WORD>(wcstoul(szValue, nullptr, 10));
        DebugTrace(L"WinMain()->Language parameter: %d", run.wLangParam);
    }
    // For the setup program as written, quotes included.
    LPWSTR szCmdLineParam = run.setup.szCmdLineParam;
    if (GetOptionValue(run, L"CMDLINE:", szCmdLineParam, ARRAYSIZE(run.setup.szCmdLineParam)))
        DebugTrace(L"WinMain()->CMDLINE parameter: %s", szCmdLineParam);
}

// ---- configured ----------------------------------------------------------

Next CreateScratchFolder(RunState& run)
{
    DWORD dwError =
        TakeScratchFolder(run.ctx.szFolders[PV_TEMP], run.ctx.szTempTRV, &run.hScratchLock);
    if (dwError != ERROR_SUCCESS && run.bHelp) {
        // No language library without the folder: the program's own list.
        ShowHelp(run, hInstance);
        return Next::Return0;
    }
    if (dwError != ERROR_SUCCESS) {
        // Not a success: a deployment script must see that nothing ran.
        DebugTrace(L"WinMain()->Error create directory (%s)!", run.ctx.szTempTRV);
        SetExitCode(dwError, EXITCODE_OUTCOME);
        return Next::ReturnError;
    }
    DebugTrace(L"WinMain()->TempPathTRV=%s", run.ctx.szTempTRV);
    return Next::Continue;
}

// A package whose configuration the packer kept beside it carries only that
// file's name; found under that name it serves even when the package was
// renamed ("Setup (1).exe" still reads Setup.cfg).
BOOL FindConfigNamedBeside(RunState& run)
{
    WCHAR szName[PATH_CCH] = L"";
    {
        CProfileFile profile(run.ctx.szConfigFile, run.ctx.szTempTRV, L"WinMain()");
        GetPrivateProfileStringW(PACKAGE_SECTION, CONFIG_FILE_KEY, L"", szName, PATH_CCH,
                                 profile.Path());
    }
    if (!*szName)
        return FALSE;
    PathCombineW(run.szExpectedConfig, run.ctx.szModulePath, PathFindFileNameW(szName));
    DebugTrace(L"WinMain()->Configuration expected beside the package: %s", run.szExpectedConfig);
    if (FileExists(run.szExpectedConfig))
        // Same capacity.
        (void)StringCchCopyW(run.ctx.szConfigFile, PATH_CCH, run.szExpectedConfig);
    else
        run.bConfigMissing = TRUE;
    return TRUE;
}

void ReadConfiguration(RunState& run)
{
    InitProjectInfo(run.ctx);
    if (!FileExists(run.ctx.szConfigFile)) {
        // Same capacity.
        (void)StringCchCopyW(run.szExpectedConfig, PATH_CCH, run.ctx.szConfigFile);
        if (FAILED(StringCchPrintfW(run.ctx.szConfigFile, PATH_CCH, L"%s\\setup.cfg",
                                    run.ctx.szTempTRV))) {
            run.ctx.szConfigFile[0] = L'\0';  // a cut name is another file
            run.bNoConfig = TRUE;
        } else if (ExtractRes(hInstance, IDR_CFG, L"CFG", run.ctx.szConfigFile) != ERROR_SUCCESS) {
            run.bNoConfig = TRUE;
        } else {
            FindConfigNamedBeside(run);
        }
    }
    // A package whose configuration is missing still names itself and its
    // languages beside that file's name, for the message that says so.
    if (run.bConfigMissing)
        DebugTrace(L"WinMain()->Configuration file missing (%s)", run.szExpectedConfig);
    // A file that is not there leaves the defaults; the checks above and
    // CheckConfiguration say what that means for the run.
    (void)ReadConfigFile(run.ctx, run.ctx.szConfigFile, run.wLangParam);
}

// The GUID names a mutex and folders: anything but GUID form is not used.
void CheckGuid(RunState& run)
{
    if (run.ctx.project.szGuid[0] && !IsGuidForm(run.ctx.project.szGuid)) {
        DebugTrace(L"WinMain()->Guid '%s' refused: not a GUID", run.ctx.project.szGuid);
        run.ctx.project.szGuid[0] = L'\0';
    }
}

Next TakeProjectMutex(RunState& run)
{
    if (!*run.ctx.project.szGuid)
        return Next::Continue;
    run.hMutex = CreateMutexW(nullptr, FALSE, run.ctx.project.szGuid);
    if (run.hMutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        DebugTrace(L"WinMain()->Project already in memory (%s)", run.ctx.project.szGuid);
        SetExitCode(ERROR_ALREADY_EXISTS, EXITCODE_OUTCOME);
        return Next::Shutdown;
    }
    return Next::Continue;
}

void ApplyNoResume(RunState& run)
{
    if (HasOption(run, L"NORESUME")) {
        run.ctx.project.bResumeSetup = 0;
        DebugTrace(L"WinMain()->Resume mode disabled by parameter");
    }
}

BOOL UsesResumeFolders(const RunState& run)
{
    return run.ctx.project.bResumeSetup && run.ctx.project.szGuid[0] &&
           !IsDefaultGuid(run.ctx.project.szGuid);
}

Next CreateDataFolder(RunState& run)
{
    if (UsesResumeFolders(run)) {
        WCHAR szResume[PATH_CCH];
        if (FAILED(StringCchPrintfW(szResume, PATH_CCH, L"%s\\%s", run.ctx.szFolders[PV_TEMP],
                                    run.ctx.project.szGuid)) ||
            !TakeResumeFolder(szResume)) {
            DebugTrace(L"WinMain()->Resume mode off: '%s' is not the run's own", szResume);
            run.ctx.project.bResumeSetup = 0;
        }
    }
    // A package without a GUID gets a folder of its own, never the scratch
    // folder itself.
    HRESULT hr;
    if (UsesResumeFolders(run))
        hr = StringCchPrintfW(run.ctx.szDataPath, PATH_CCH, L"%s\\%s\\%s",
                              run.ctx.szFolders[PV_TEMP], run.ctx.project.szGuid,
                              run.ctx.project.szGuid);
    else
        hr = StringCchPrintfW(run.ctx.szDataPath, PATH_CCH, L"%s\\%s", run.ctx.szTempTRV,
                              run.ctx.project.szGuid[0] ? run.ctx.project.szGuid
                                                        : TRV_DEFAULT_GUID);
    if (FAILED(hr)) {
        // A cut name is another folder: none is made, and none removed.
        run.ctx.szDataPath[0] = L'\0';
        DebugTrace(L"WinMain()->The data folder's path is longer than %u characters!",
                   static_cast<unsigned>(PATH_CCH - 1));
        SetExitCode(ERROR_FILENAME_EXCED_RANGE);
        return Next::Shutdown;
    }
    DWORD dwError = CreateAllDirectory(run.ctx.szDataPath);
    if (dwError != ERROR_SUCCESS) {
        DebugTrace(L"WinMain()->Error create directory (%s)->%d!", run.ctx.szDataPath, dwError);
        if (dwError != ERROR_ALREADY_EXISTS) {
            RemoveFolder(run.ctx.szDataPath);
            SetExitCode(dwError);
            return Next::Shutdown;
        }
    }
    DebugTrace(L"WinMain()->DataPath=%s", run.ctx.szDataPath);
    return Next::Continue;
}

// ---- localized -----------------------------------------------------------

BOOL IsSilentRequested(const RunState& run)
{
    return HasOption(run, L"S") || HasOption(run, L"FULLSILENT");
}

// A library of the temporary folder that the run did not write and can not
// remove: nothing is loaded, and the run ends with the reason.
Next StopForLibrary(const RunState& run, LPCWSTR szLibrary, DWORD dwError)
{
    DebugTrace(L"WinMain()->%s is not the package's own and can not be replaced (%d)", szLibrary,
               dwError);
    SetExitCode(dwError, EXITCODE_OUTCOME);
    if (!IsSilentRequested(run)) {
        FAILUREINFO failure = {dwError, szLibrary, 0};
        std::vector<WCHAR> text(MESSAGE_TEXT_CCH, L'\0');
        BuildErrorText(ErrorKindOf(dwError, FALSE), failure, run.ctx, text.data(),
                       MESSAGE_TEXT_CCH);
        ShowErrorBox(nullptr, run.ctx.szTitle, text.data());
    }
    return Next::Shutdown;
}

// The language pack could not be written out: the license and the install
// script may be among what is missing, so the run goes no further.
Next StopForLanguagePack(const RunState& run, DWORD dwError)
{
    DebugTrace(L"WinMain()->The language pack could not be unpacked (%d): the run ends", dwError);
    SetExitCode(dwError);
    if (!IsSilentRequested(run)) {
        // A full disk: the temporary folder's drive, and the room that the
        // pack and what it unpacks take at least.
        HRSRC hPack = FindResourceW(hInstance, MAKEINTRESOURCEW(IDR_BINARY), L"BINARY");
        ULONGLONG ullNeed = hPack ? 2ULL * SizeofResource(hInstance, hPack) : 0;
        FAILUREINFO failure = {dwError, run.ctx.szTempTRV, ullNeed};
        std::vector<WCHAR> text(MESSAGE_TEXT_CCH, L'\0');
        BuildErrorText(ErrorKindOf(dwError, FALSE), failure, run.ctx, text.data(),
                       MESSAGE_TEXT_CCH);
        ShowErrorBox(nullptr, run.ctx.szTitle, text.data());
    }
    return Next::Shutdown;
}

Next LoadLanguageLibrary(RunState& run)
{
    DWORD dwPack = ExtractBinaryRes(run.ctx);
    if (dwPack != ERROR_SUCCESS && dwPack != ERROR_RESOURCE_TYPE_NOT_FOUND)
        return StopForLanguagePack(run, dwPack);
    HMODULE hLib = nullptr;
    if (*run.ctx.project.szLangFileName &&
        FAILED(StringCchPrintfW(run.szLangLibrary, PATH_CCH, L"%s\\%s", run.ctx.szTempTRV,
                                PathFindFileNameW(run.ctx.project.szLangFileName)))) {
        // Too long to name: the program's own strings serve.
        DebugTrace(L"WinMain()->The language library's path is too long: not loaded");
        run.szLangLibrary[0] = L'\0';
    } else if (*run.ctx.project.szLangFileName) {
        // Only the library this run unpacked: a file someone put there is
        // removed, and the program's own strings serve. A damaged one is
        // checked out too and falls back to the program's own English.
        DWORD dwError = ERROR_SUCCESS;
        if (IsOwnLibrary(run.szLangLibrary, &dwError))
            hLib = LoadCheckedLanguageLibrary(run.szLangLibrary);
        else if (dwError != ERROR_SUCCESS)
            return StopForLibrary(run, run.szLangLibrary, dwError);
    }
    hInstRes = hLib ? hLib : run.hInst;
    DebugTrace(L"WinMain()->LoadLibrary(%s)->%d (hInstRes=%d)", run.szLangLibrary, hLib, hInstRes);
    return Next::Continue;
}

void SetTitle(RunState& run)
{
    if (*run.ctx.project.szProductName)
        // A title is only shown.
        (void)StringCchCopyW(run.ctx.szTitle, TITLE_CCH, run.ctx.project.szProductName);
    else  // else no title
        (void)GetLocalVersionInfo(run.hInst, L"ProductName", run.ctx.szTitle, TITLE_CCH);
    DebugTrace(L"WinMain()->Title=%s", run.ctx.szTitle);
}

Next ShowInformationIfAsked(const RunState& run)
{
    if (!HasOption(run, L"INFO"))
        return Next::Continue;
    WCHAR szText[INFO_TEXT_CCH];
    BuildInformationText(run.ctx, szText, ARRAYSIZE(szText));
    TrimTrailingBlanks(szText);
    ShowMessageBox(nullptr, szText, run.ctx.szTitle, MB_ICONINFORMATION);
    SetExitCode(0);
    return Next::Shutdown;
}

// ---- prepared ------------------------------------------------------------

Next LoadSkin(RunState& run)
{
    DWORD dwError = ERROR_SUCCESS;
    run.hSkin = SetCorvelThm(run.ctx, &dwError, &run.nSkinFrameTop);
    WCHAR szLibrary[PATH_CCH];
    if (dwError != ERROR_SUCCESS && PathCombineW(szLibrary, run.ctx.szTempTRV, L"Corvel.dll"))
        return StopForLibrary(run, szLibrary, dwError);
    return Next::Continue;
}

void ApplySwitches(RunState& run)
{
    if (HasOption(run, L"WITHPROGRESS")) {
        run.ctx.project.bDialogInRun = 1;
        DebugTrace(L"WinMain()->DialogInRun mode!");
    }
    if (HasOption(run, L"S")) {
        run.setup.bSilent = TRUE;
        DebugTrace(L"WinMain()->Silent mode parameter");
    }
    if (HasOption(run, L"NOBALLOON")) {
        run.ctx.project.bTrayIcon = 0;
        DebugTrace(L"WinMain()->No balloon parameter");
    }
    if (HasOption(run, L"FULLSILENT")) {
        run.setup.bSilent = TRUE;
        run.ctx.project.bTrayIcon = 0;
        DebugTrace(L"WinMain()->Full Silent mode parameter");
    }
    if (HasOption(run, L"FD")) {
        run.setup.bForceDownload = TRUE;
        DebugTrace(L"WinMain()->Force to Download parameter");
    }
    if (HasOption(run, L"NOLICENSE")) {
        run.ctx.project.bLicense = 0;
        DebugTrace(L"WinMain()->No license parameter");
    }
    if (HasOption(run, L"NOTOOLBAR"))
        DebugTrace(L"WinMain()->No Toolbar parameter");  // the toolbar offer is not built in
    if (HasOption(run, L"NORMALSTATUS")) {
        run.ctx.project.byStatusType = 1;
        DebugTrace(L"WinMain()->NORMALSTATUS parameter");
    }
    if (HasOption(run, L"SMALLSTATUS")) {
        run.ctx.project.byStatusType = 0;
        DebugTrace(L"WinMain()->SMALLSATUS parameter");
    }
}

Next CheckElevation(RunState& run)
{
    run.bNeedToRunAsAdmin = run.ctx.project.bNeedElevation && !IsRunAsAdmin();
    DebugTrace(L"WinMain()->bNeedToRunAsAdmin=%d", run.bNeedToRunAsAdmin);
    return run.bNeedToRunAsAdmin ? Next::Shutdown : Next::Continue;
}

Next ShowLicense(RunState& run)
{
    if (!run.ctx.project.bLicense || run.setup.bSilent)
        return Next::Continue;
    // The license's text control lives in the rich edit library, loaded
    // only by a run that shows it.
    if (!run.hRichEdit)
        run.hRichEdit = LoadSystemLibrary(L"riched20.dll");
    INT_PTR nResult;
    do {
        LICENSEDLGPARAM param = {&run.ctx, hInstRes, ChosenLanguageId(run.ctx), 0, FALSE};
        nResult = LicenseDlg(nullptr, &param);
        DebugTrace(L"WinMain()->Dialog license=%d", nResult);
    } while (nResult == LICENSE_BACK);
    if (nResult == 0 || nResult == IDOK)
        return Next::Continue;
    // Declined is a cancelled run; a dialog that could not open, a failure.
    SetExitCode(nResult == -1 ? LastErrorOr(ERROR_CAN_NOT_COMPLETE) : ERROR_CANCELLED);
    return Next::Shutdown;
}

void FindPayload(RunState& run)
{
    PAYLOADFOUND& payload = run.setup.payload;
    payload.hDataRes = CheckDataRes(run.hInst, &payload.dwDataResSize, 0);
    if (!payload.hDataRes)
        payload.bDataFile = CheckDataFile(run.ctx.szModuleFile, &payload.dwDataFileOffset);
    if (payload.Any())
        return;
    // Data after the program image without a readable table is a payload
    // that was damaged or cut off, not a package of files beside it.
    ULONGLONG cbAfterImage = CheckDataAfterImage(run.ctx.szModuleFile);
    if (cbAfterImage > 0) {
        payload.bLost = TRUE;
        DebugTrace(L"WinMain()->Payload not found, %I64u bytes after the program image!",
                   cbAfterImage);
    }
}

// The full path of an extract-only folder, created; 0 or the reason why
// it cannot serve: no name, too long, or the folder cannot be made.
DWORD PrepareExtractFolder(LPCWSTR szCurrentDir, LPCWSTR szValue, LPWSTR szFolder)
{
    if (!*szValue)
        return ERROR_BAD_PATHNAME;
    if (wcslen(szValue) >= PATH_CCH)
        return ERROR_FILENAME_EXCED_RANGE;
    WCHAR szJoined[PATH_CCH];
    if (!PathIsRelativeW(szValue))
        // Shorter than PATH_CCH, checked above.
        (void)StringCchCopyW(szJoined, PATH_CCH, szValue);
    else if (!PathCombineW(szJoined, szCurrentDir, szValue))
        return ERROR_FILENAME_EXCED_RANGE;
    WCHAR szFull[PATH_CCH];
    DWORD cch = GetFullPathNameW(szJoined, PATH_CCH, szFull, nullptr);
    if (cch == 0)
        return LastErrorOr(ERROR_BAD_PATHNAME);
    if (cch >= PATH_CCH)
        return ERROR_FILENAME_EXCED_RANGE;
    if (!PathIsRootW(szFull))
        RemoveTrailingBackslash(szFull);
    // A file of that name, or one on the way to it, is no folder to extract
    // into: 267, never the 183 of a second run.
    if (FileExists(szFull))
        return ERROR_DIRECTORY;
    DWORD dwError = CreateAllDirectory(szFull);
    if (dwError != ERROR_SUCCESS) {
        // The levels made before the failure go again.
        UndoRunFolder(szFull);
        return dwError == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : dwError;
    }
    if (!FolderExists(szFull))
        return ERROR_DIRECTORY;
    // Same capacity.
    (void)StringCchCopyW(szFolder, PATH_CCH, szFull);
    return 0;
}

Next ApplyExtractOnly(RunState& run)
{
    std::vector<WCHAR> value(CMDLINE_CCH, L'\0');
    if (!GetOptionValue(run, L"X:", value.data(), CMDLINE_CCH))
        return Next::Continue;
    run.bExtractOnly = TRUE;
    DebugTrace(L"WinMain()->Params=/X: %s", value.data());
    // The files stay where they were asked for, and nothing runs.
    run.ctx.project.bDelFiles = 0;
    run.ctx.project.bLaunchExe = 0;
    run.ctx.project.bCopyToTemp = 0;
    run.ctx.project.szTgdEmptyVars[0] = L'\0';
    DWORD dwError = PrepareExtractFolder(run.ctx.szFolders[PV_CURRENTDIR], value.data(),
                                         run.ctx.project.szTgdFolder);
    if (dwError == 0) {
        DebugTrace(L"WinMain()->TgdFolder=%s", run.ctx.project.szTgdFolder);
        return Next::Continue;
    }
    // Nothing is extracted anywhere else.
    DebugTrace(L"WinMain()->Error extract folder (%s)->%d!", value.data(), dwError);
    return FailStartUp(run, dwError, ERRORKIND_TARGET, value.data());
}

// A package that expected a configuration and found none says so, rather
// than extracting and launching nothing; an extract-only run needs none.
Next CheckConfiguration(const RunState& run)
{
    if (run.bExtractOnly || !(run.bConfigMissing || (run.bNoConfig && run.setup.payload.Any())))
        return Next::Continue;
    return FailStartUp(run, ERROR_FILE_NOT_FOUND, ERRORKIND_NO_CONFIG,
                       PathFindFileNameW(run.szExpectedConfig));
}

Next ResolveTargetFolder(RunState& run)
{
    run.setup.bOwnTarget = FALSE;
    if (*run.ctx.project.szTgdFolder && !run.ctx.project.bCopyToTemp)
        return Next::Continue;
    if (!run.setup.payload.Any()) {
        // Same capacity.
        (void)StringCchCopyW(run.ctx.project.szTgdFolder, PATH_CCH, run.ctx.szModulePath);
        return Next::Continue;
    }
    LPWSTR szTgd = run.ctx.project.szTgdFolder;
    HRESULT hr =
        UsesResumeFolders(run)
            ? StringCchPrintfW(szTgd, PATH_CCH, L"%s\\%s\\%s", run.ctx.szFolders[PV_TEMP],
                               run.ctx.project.szGuid, TRV_EXTRACT_FOLDER)
            : StringCchPrintfW(szTgd, PATH_CCH, L"%s\\%s", run.ctx.szTempTRV, TRV_EXTRACT_FOLDER);
    if (FAILED(hr)) {
        // A cut name is another folder: nothing goes there, nothing is removed.
        szTgd[0] = L'\0';
        run.ctx.project.bDelFiles = 0;
        DebugTrace(L"WinMain()->The extraction folder's path is longer than %u characters!",
                   static_cast<unsigned>(PATH_CCH - 1));
        return FailStartUp(run, ERROR_FILENAME_EXCED_RANGE, ERRORKIND_TARGET, run.ctx.szTempTRV);
    }
    run.setup.bOwnTarget = TRUE;
    return Next::Continue;
}

// The target folder of the package's configuration, when it is one that
// was there before the run: built on a placeholder that stood for nothing,
// it is not the folder meant (203); a folder the system or the user keeps
// is no place for files that go again at the end (DeleteFiles=1: 16).
// Otherwise the files it holds are the user's, and stay so.
Next CheckTargetFolder(RunState& run)
{
    if (run.setup.bOwnTarget || !run.setup.payload.Any() || run.bExtractOnly)
        return Next::Continue;
    LPCWSTR szTgd = run.ctx.project.szTgdFolder;
    WCHAR szReason[GUARD_REASON_CCH] = L"";
    DWORD dwError = ERROR_SUCCESS;
    if (run.ctx.project.szTgdEmptyVars[0]) {
        // A reason is only shown.
        (void)StringCchPrintfW(szReason, ARRAYSIZE(szReason), L"%s stood for nothing",
                               run.ctx.project.szTgdEmptyVars);
        dwError = ERROR_ENVVAR_NOT_FOUND;
    } else if (run.ctx.project.bDelFiles) {
        WCHAR szFull[PATH_CCH];
        if (!GuardPath(szTgd, GUARD_REMOVE_FOLDER, TRUE, szFull, szReason, ARRAYSIZE(szReason)))
            dwError = ERROR_CURRENT_DIRECTORY;  // "The directory cannot be removed."
        else if (FolderExists(szTgd))
            KeepFilesOf(szTgd);
    }
    if (dwError == ERROR_SUCCESS)
        return Next::Continue;
    DebugTrace(L"WinMain()->TargetFolder '%s' refused: %s", szTgd, szReason);
    // Nothing of the folder is the run's: it stays as it is.
    run.ctx.project.bDelFiles = 0;
    return FailStartUp(run, dwError, ERRORKIND_FOLDER, szTgd);
}

void ResolveExeFile(RunState& run)
{
    ExpandPathVar(run.ctx, run.ctx.project.szExeFileName, PATH_CCH);
    // Without a program name there is nothing to launch (not the folder itself).
    if (!*run.ctx.project.szExeFileName)
        run.ctx.szExeFile[0] = L'\0';
    else if (PathIsRelativeW(run.ctx.project.szExeFileName))
        PathCombineW(run.ctx.szExeFile, run.ctx.project.szTgdFolder, run.ctx.project.szExeFileName);
    else
        // Same capacity.
        (void)StringCchCopyW(run.ctx.szExeFile, PATH_CCH, run.ctx.project.szExeFileName);
    DebugTrace(L"WinMain()->ExeFile=%s", run.ctx.szExeFile);
}

void RunSetupPhase(RunState& run)
{
    STATUSDLGPARAM param = {&run.ctx, hInstRes, ChosenLanguageId(run.ctx), StartStatusRun,
                            &run.setup};
    HWND hDlg = StatusDlg(nullptr, &param);
    DWORD dwError = GetLastError();
    // The worker settles the exit code; one ended by force (the window was
    // closed) or never started did not.
    if (!ExitCodeChosen())
        SetExitCode(IsCancelled() ? ERROR_CANCELLED
                                  : (hDlg || !dwError ? ERROR_CAN_NOT_COMPLETE : dwError));
}

// ---- shutdown ------------------------------------------------------------

void FreeLibraries(RunState& run)
{
    if (run.setup.payload.hDataRes) {
        FreeResource(run.setup.payload.hDataRes);
        run.setup.payload.hDataRes = nullptr;
    }
    if (run.hRichEdit)
        FreeLibrary(run.hRichEdit);
    if (run.hSkin)
        FreeCorvelThm(run.hSkin);
    FreePacUnpacker();
    if (hInstRes && hInstRes != run.hInst) {
        BOOL bFreed = FreeLibrary(hInstRes);
        DebugTrace(L"WinMain()->unload %s->%d", run.szLangLibrary, bFreed);
        hInstRes = run.hInst;
    }
    CoUninitialize();
}

// The name, inside the scratch folder, of the folder a RunOnce command of
// this run still needs; null when it needs none there.
LPCWSTR KeptForRestart(const RunState& run, WCHAR (&szName)[PATH_CCH])
{
    LPCWSTR szTgd = run.ctx.project.szTgdFolder;
    size_t cchScratch = wcslen(run.ctx.szTempTRV);
    if (!run.setup.bRunOnceWritten || !cchScratch ||
        _wcsnicmp(szTgd, run.ctx.szTempTRV, cchScratch) != 0 || szTgd[cchScratch] != L'\\')
        return nullptr;
    // Part of a PATH_CCH path.
    (void)StringCchCopyW(szName, PATH_CCH, szTgd + cchScratch + 1);
    WCHAR* pSlash = wcschr(szName, L'\\');
    if (pSlash)
        *pSlash = L'\0';
    return szName[0] ? szName : nullptr;
}

void RemoveFolders(RunState& run)
{
    // A setup program that still runs (the run was cancelled while it ran)
    // keeps its files until it ends.
    WaitForLaunchedProgram();
    WCHAR szKeepName[PATH_CCH];
    LPCWSTR szKeep = KeptForRestart(run, szKeepName);
    ReleaseScratchFolder(run.ctx.szTempTRV, run.hScratchLock, szKeep,
                         run.ctx.project.szProductName);
    run.hScratchLock = INVALID_HANDLE_VALUE;
    if (FolderExists(run.ctx.szDataPath)) {
        // In resume mode the data stays for the next run; only an empty folder goes.
        BOOL bRemoved =
            run.ctx.project.bResumeSetup
                ? RemoveDirectoryW(run.ctx.szDataPath)
                : RemoveDirectoryTree(run.ctx.szDataPath, REMOVE_CONTENTS) == ERROR_SUCCESS;
        DebugTrace(L"WinMain()->Remove folder '%s' (%d)", run.ctx.szDataPath, bRemoved);
    }
    LPCWSTR szTgd = run.ctx.project.szTgdFolder;
    // The RunOnce command runs the setup program from its folder after the
    // restart: that folder stays.
    if (run.ctx.project.bDelFiles && FolderExists(szTgd) &&
        lstrcmpiW(szTgd, run.ctx.szModulePath) != 0 && !run.setup.bRunOnceWritten) {
        RemoveTargetFolder(szTgd, run.setup.bOwnTarget);
    } else if (run.bExtractOnly && ExitCode() != ERROR_SUCCESS && IsRunFolder(szTgd)) {
        // A failed extraction leaves nothing of its own: no files, and no
        // folder it made for them.
        DebugTrace(L"WinMain()->Extraction failed: what it made in '%s' goes", szTgd);
        UndoRunFolder(szTgd);
    } else
        DebugTrace(L"WinMain()->the folder '%s' will not be removed!", szTgd);
}

// The elevated copy would see our project mutex as a second instance, so
// the mutex is released before it starts.
void RestartElevatedIfNeeded(RunState& run)
{
    if (run.hMutex) {
        CloseHandle(run.hMutex);
        run.hMutex = nullptr;
    }
    // Refused elevation ends the run with the reason (1223).
    if (!run.bNeedToRunAsAdmin)
        return;
    DWORD dwError = ExecuteFile(nullptr, run.ctx.szModuleFile, run.lpCmdLine, L"", L"Runas",
                                FALSE, run.nCmdShow, nullptr, nullptr);
    if (dwError != ERROR_SUCCESS)
        SetExitCode(dwError);
}

DWORD Shutdown(RunState& run)
{
    FreeLibraries(run);
    RemoveFolders(run);
    RestartElevatedIfNeeded(run);
    DebugTrace(L"WinMain()->End(%#x)", ExitCode());
    CloseTraceLog();
    return ExitCode();
}

// Leaves before anything is created: only COM and the rich edit library go.
DWORD ReturnEarly(RunState& run, DWORD dwExitCode)
{
    if (run.hRichEdit)
        FreeLibrary(run.hRichEdit);
    CoUninitialize();
    if (dwExitCode != 0)
        DebugTrace(L"WinMain()->End(%#x)", dwExitCode);
    CloseTraceLog();
    return dwExitCode;
}

// Start-up up to the setup phase; returns where the run goes next.
Next StartUp(RunState& run)
{
    OpenLogIfAsked(run.lpCmdLine);
    Begin(run);
    if (!CopyCommandLine(run, run.lpCmdLine)) {
        SetExitCode(ERROR_FILENAME_EXCED_RANGE, EXITCODE_OUTCOME);
        return Next::ReturnError;
    }
    ReadUnattendedOptions(run);
    run.bHelp = HasOption(run, L"?");
    ReadLanguageAndCmdLineOptions(run);
    switch (CreateScratchFolder(run)) {
    case Next::ReturnError:
        return Next::ReturnError;
    case Next::Return0:
        return Next::Return0;
    default:
        break;
    }
    ReadConfiguration(run);
    SetTitle(run);
    if (run.bHelp) {
        // In the package's language: its library comes from the scratch
        // folder, which goes again at the end. Nothing else happens.
        if (LoadLanguageLibrary(run) == Next::Shutdown)
            return Next::Shutdown;
        ShowHelp(run, hInstRes);
        SetExitCode(0);
        return Next::Shutdown;
    }
    CheckGuid(run);
    if (TakeProjectMutex(run) == Next::Shutdown)
        return Next::Shutdown;
    ApplyNoResume(run);
    if (CreateDataFolder(run) == Next::Shutdown)
        return Next::Shutdown;
    if (LoadLanguageLibrary(run) == Next::Shutdown)
        return Next::Shutdown;
    if (ShowInformationIfAsked(run) == Next::Shutdown)
        return Next::Shutdown;
    ApplySwitches(run);
    if (CheckElevation(run) == Next::Shutdown)
        return Next::Shutdown;
    if (LoadSkin(run) == Next::Shutdown)
        return Next::Shutdown;
    if (ShowLicense(run) == Next::Shutdown)
        return Next::Shutdown;
    FindPayload(run);
    if (ApplyExtractOnly(run) == Next::Shutdown)
        return Next::Shutdown;
    if (CheckConfiguration(run) == Next::Shutdown)
        return Next::Shutdown;
    if (ResolveTargetFolder(run) == Next::Shutdown)
        return Next::Shutdown;
    if (CheckTargetFolder(run) == Next::Shutdown)
        return Next::Shutdown;
    ResolveExeFile(run);
    return Next::Continue;
}

}  // namespace

BOOL IsRunAsAdmin()
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID pAdmins = nullptr;
    BOOL bMember = FALSE;
    if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                 DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &pAdmins)) {
        if (!CheckTokenMembership(nullptr, pAdmins, &bMember))
            bMember = FALSE;
        FreeSid(pAdmins);
    }
    DebugTrace(L"IsRunAsAdmin()->%d", bMember);
    return bMember;
}

void BuildInformationText(const RUNCONTEXT& ctx, LPWSTR szText, size_t cchText)
{
    // The product, its version, then the languages, each under the name
    // its speakers give it.
    // The /INFO text: what does not fit is cut.
    (void)StringCchCopyW(szText, cchText, ctx.szTitle);
    WCHAR szLine[PATH_CCH + 16];
    LPCWSTR args[] = {ctx.szProductVersion};
    if (*ctx.szProductVersion &&
        FormatUiText(IDS_INFO_VERSION, szLine, ARRAYSIZE(szLine), args, ARRAYSIZE(args))) {
        (void)StringCchCatW(szText, cchText, L"\n");
        (void)StringCchCatW(szText, cchText, szLine);
    }
    (void)StringCchCatW(szText, cchText, L"\n\n");
    if (LoadUiText(IDS_INFO_LANGUAGES, szLine, ARRAYSIZE(szLine)))
        (void)StringCchCatW(szText, cchText, szLine);
    std::vector<DWORD> ids;
    for (const LanguageEntry& entry : ctx.languages)
        ids.push_back(entry.lcID);
    if (ids.empty())
        ids.push_back(ctx.project.uiLanguageDefault);
    for (DWORD lcID : ids) {
        WCHAR szName[PATH_CCH];
        LanguageDisplayName(lcID, szName, ARRAYSIZE(szName));
        (void)StringCchPrintfW(szLine, ARRAYSIZE(szLine), L"\n%u - %s", lcID, szName);
        (void)StringCchCatW(szText, cchText, szLine);
    }
}

namespace {

RunState* g_pRun;

// A fault on any thread outside a guarded call ends the process; what the
// run wrote goes first, as at the end of a run.
void CleanUpAfterFault()
{
    if (g_pRun)
        RemoveFolders(*g_pRun);
}

}  // namespace

DWORD RunLauncher(HINSTANCE hInst, HINSTANCE, LPWSTR lpCmdLine, int nCmdShow)
{
    RunState run;
    run.hInst = hInst;
    run.nCmdShow = nCmdShow;
    run.lpCmdLine = lpCmdLine ? lpCmdLine : L"";
    hInstance = hInst;
    hInstRes = hInst;
    StartExitCode();
    g_pRun = &run;
    InstallFaultHandler(CleanUpAfterFault);

    DWORD dwExitCode;
    switch (StartUp(run)) {
    case Next::Return0:
        dwExitCode = ReturnEarly(run, 0);
        break;
    case Next::ReturnError:
        dwExitCode = ReturnEarly(run, ExitCode());
        break;
    case Next::Continue:
        RunSetupPhase(run);
        dwExitCode = Shutdown(run);
        break;
    case Next::Shutdown:
    default:
        dwExitCode = Shutdown(run);
        break;
    }
    // The run's state ends here: a fault after this has nothing of it to clean.
    g_pRun = nullptr;
    return dwExitCode;
}
