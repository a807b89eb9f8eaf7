// Shortcuts, programs, processes, services and COM registration.
#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <string>
#include <vector>
#include "common/osversion.h"
#include "common/sysdll.h"
#include "state/pathvar.h"
#include "state/state.h"
#include "script/condition.h"
#include "common/register.h"
#include "common/registry.h"
#include "script/regcmd.h"
#include "script/script.h"
#include "common/process.h"
#include "script/syscmd.h"
#include "scripttest.h"
#include "support/testrun.h"
#include <strsafe.h>

using namespace scripttest;

namespace {

class SystemCommandTest : public ScriptTest {
protected:
    void SetUp() override
    {
        ScriptTest::SetUp();
        m_dir = FreshDir(Wide(testing::UnitTest::GetInstance()->current_test_info()->name()));
        m_n = Narrow(m_dir);
        m_bin = BinDir();
    }
    void TearDown() override
    {
        RemoveTree(m_dir);
        ScriptTest::TearDown();
    }
    std::wstring m_dir, m_bin;
    std::string m_n;
};

// What a saved shortcut holds, read back through the shell-link object.
struct LinkInfo {
    bool loaded = false;
    std::wstring target, arguments, workingDir, iconFile, description;
    int iconIndex = -1;
    int showCmd = -1;
};

LinkInfo ReadLink(const std::wstring& path)
{
    LinkInfo info;
    CoInitialize(nullptr);
    IShellLinkW* link = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link)))) {
        IPersistFile* file = nullptr;
        if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
            if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
                WCHAR sz[MAX_PATH * 4];
                info.loaded = true;
                if (SUCCEEDED(link->GetPath(sz, MAX_PATH, nullptr, SLGP_RAWPATH)))
                    info.target = sz;
                if (SUCCEEDED(link->GetArguments(sz, ARRAYSIZE(sz))))
                    info.arguments = sz;
                if (SUCCEEDED(link->GetWorkingDirectory(sz, MAX_PATH)))
                    info.workingDir = sz;
                if (SUCCEEDED(link->GetDescription(sz, MAX_PATH)))
                    info.description = sz;
                if (SUCCEEDED(link->GetIconLocation(sz, MAX_PATH, &info.iconIndex)))
                    info.iconFile = sz;
            }
            file->Release();
        }
        link->Release();
    }
    CoUninitialize();
    // The show command straight from the file's header (offset 0x3C of the
    // shell-link format): not every shell-link object reads it back.
    std::string bytes = ReadFile(path);
    if (bytes.size() >= 0x40)
        memcpy(&info.showCmd, bytes.data() + 0x3C, sizeof(int));
    return info;
}

TEST_F(SystemCommandTest, CreateIconNamingTable)
{
    // The shell-link object must come up with the DLL search locked down.
    LockDownDllSearch();
    std::wstring target = m_bin + L"\\closeme.exe";
    struct Case {
        std::wstring name;
        std::wstring file;  // expected below the folder
    };
    const Case cases[] = {
        {L"Readme", L"Readme.lnk"},
        {L"Readme.LNK", L"Readme.LNK"},
        {L"Version 2.0", L"Version 2.0.lnk"},
        {L"sub\\Readme", L"Readme.lnk"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.name));
        std::wstring folder = m_dir + L"\\F";
        RemoveTree(folder);
        tracesink::Clear();
        RunLine(L"CREATEICON", folder + L"," + c.name + L"," + target + L",-a -b,Description,3," +
                                m_dir + L"," + target + L",2");
        EXPECT_EQ(LastResult(), "1");
        std::wstring path = folder + L"\\" + c.file;
        EXPECT_TRUE(Exists(path));
        // The folder did not exist: it is made first.
        EXPECT_TRUE(Traced("CreateShortCut->'" + m_n + "\\F' doesn't exist!"));
        EXPECT_TRUE(Traced("CreateShortCut->PersistFile->Save(" + Narrow(path) + ")->0"));
        EXPECT_TRUE(Traced("CreateShortCut->End(1)"));
        EXPECT_TRUE(Traced("ScriptCreateIcon(" + Narrow(target) + ",-a -b," + Narrow(c.name) +
                           ",Description)->1"));
        LinkInfo link = ReadLink(path);
        ASSERT_TRUE(link.loaded);
        EXPECT_EQ(_wcsicmp(link.target.c_str(), target.c_str()), 0) << Narrow(link.target);
        EXPECT_EQ(link.arguments, L"-a -b");
        EXPECT_EQ(link.description, L"Description");
        EXPECT_EQ(_wcsicmp(link.workingDir.c_str(), m_dir.c_str()), 0) << Narrow(link.workingDir);
        EXPECT_EQ(_wcsicmp(link.iconFile.c_str(), target.c_str()), 0) << Narrow(link.iconFile);
        EXPECT_EQ(link.iconIndex, 2);
        EXPECT_EQ(link.showCmd, 3);
    }
}

TEST_F(SystemCommandTest, CreateIconRefusalTable)
{
    std::wstring target = m_bin + L"\\closeme.exe";
    struct Case {
        std::wstring params;
        std::string traced;
    };
    const Case cases[] = {
        {m_dir + L",Link," + m_dir + L"\\missing.exe",
         "CreateShortCut->'" + m_n + "\\missing.exe' doesn't exist!"},
        {m_dir + L",Link," + target + L",,,-1", "CreateShortCut->Bad parameters!"},
        {m_dir + L",Link," + target + L",,,1,,,-2", "CreateShortCut->Bad parameters!"},
        {m_dir + L",," + target, "CreateShortCut->Bad parameters!"},
        {L"," + std::wstring(L"Link,") + target, "CreateShortCut->Bad parameters!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.params));
        tracesink::Clear();
        RunLine(L"CREATEICON", c.params);
        EXPECT_EQ(LastResult(), "0");
        EXPECT_TRUE(Traced(c.traced));
        EXPECT_FALSE(Exists(m_dir + L"\\Link.lnk"));
    }
}

TEST_F(SystemCommandTest, CreateIconGuardLogs)
{
    std::wstring target = m_bin + L"\\closeme.exe";
    Copy(Script().szCondition, L"Ok");
    RunLine(L"CREATEICON", m_dir + L",Link," + target + L",,,,,,,,,Other");
    EXPECT_EQ(LastResult(), "0");
    EXPECT_TRUE(Traced("ScriptCreateIcon()->szCondIf=Other, g_szCondition=Ok"));
    EXPECT_FALSE(tracesink::ContainsPrefix("ScriptCreateIcon()->szTestOSSubVersion="));
    tracesink::Clear();
    RunLine(L"CREATEICON", m_dir + L",Link," + target + L",,,,,,,,,ok");
    EXPECT_EQ(LastResult(), "1");
    EXPECT_TRUE(Traced("ScriptCreateIcon()->szTestOSSubVersion=, g_szSP=" + Narrow(g_szSP)));
    // An empty show field keeps the link's normal window.
    EXPECT_EQ(ReadLink(m_dir + L"\\Link.lnk").showCmd, SW_SHOWNORMAL);
}

TEST_F(SystemCommandTest, RemoveIconTable)
{
    std::wstring folder = m_dir + L"\\F";
    struct Case {
        std::wstring params;
        std::string lastResult;
        bool linkLeft;
    };
    const Case cases[] = {
        {folder + L",Readme", "1", false},
        {folder + L"\\,Readme", "1", false},
        {folder + L",Readme.lnk", "1", false},
        {folder + L",Readme.txt", "0", true},
        {folder + L",Other", "0", true},
        {folder + L",Readme,,,Label", "0", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.params));
        CreateDirectoryW(folder.c_str(), nullptr);
        WriteFile(folder + L"\\Readme.lnk", "link");
        WriteFile(folder + L"\\Readme.txt", "text");
        tracesink::Clear();
        RunLine(L"REMOVEICON", c.params);
        EXPECT_EQ(LastResult(), c.lastResult);
        EXPECT_EQ(Exists(folder + L"\\Readme.lnk"), c.linkLeft);
        EXPECT_TRUE(Exists(folder + L"\\Readme.txt"));
    }
    RunLine(L"REMOVEICON", folder + L",Readme.txt");
    EXPECT_TRUE(Traced("ScriptRemoveIcon(" + Narrow(folder) + ", Readme.txt)->0"));
}

// A helper program started for a test; ended at the latest when the test ends.
class HelperProcess {
public:
    HelperProcess(const std::wstring& exe)
    {
        std::wstring event = L"StowawayScriptTestReady";
        HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
        std::wstring cmd = L"\"" + exe + L"\" " + event;
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        if (CreateProcessW(exe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                           &m_pi)) {
            CloseHandle(m_pi.hThread);
            HANDLE waits[] = {ready, m_pi.hProcess};
            m_ready = WaitForMultipleObjects(2, waits, FALSE, 20000) == WAIT_OBJECT_0;
        }
        CloseHandle(ready);
    }
    ~HelperProcess()
    {
        if (m_pi.hProcess) {
            TerminateProcess(m_pi.hProcess, 99);
            WaitForSingleObject(m_pi.hProcess, 5000);
            CloseHandle(m_pi.hProcess);
        }
    }
    bool Ready() const { return m_ready; }
    // Exit code once ended, STILL_ACTIVE while running.
    DWORD ExitCode() const
    {
        DWORD code = 0;
        WaitForSingleObject(m_pi.hProcess, 5000);
        GetExitCodeProcess(m_pi.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION m_pi = {};
    bool m_ready = false;
};

TEST_F(SystemCommandTest, FindModuleByNameAndPath)
{
    HelperProcess helper(m_bin + L"\\closeme.exe");
    ASSERT_TRUE(helper.Ready());
    struct Case {
        std::wstring program;
        BOOL found;
    };
    const Case cases[] = {
        {L"closeme.exe", TRUE},
        {L"CLOSEME.EXE", TRUE},
        {m_bin + L"\\closeme.exe", TRUE},
        {L"C:\\elsewhere\\closeme.exe", FALSE},
        {L"closeme", FALSE},
        {L"no-such-program.exe", FALSE},
        {L"", FALSE},
    };
    for (const Case& c : cases) {
        tracesink::Clear();
        EXPECT_EQ(FindModule(c.program.c_str()), c.found) << Narrow(c.program);
        EXPECT_TRUE(Traced("FindModule->" + Narrow(c.program) +
                           (c.found ? " is loaded in memory!" : " isn't in the memory!")));
    }
    // The fallback for systems without process snapshots matches image names.
    EXPECT_NE(FindProcessByNtQuery(L"closeme.exe", 0), 0u);
    EXPECT_NE(FindProcessByNtQuery((m_bin + L"\\closeme.exe").c_str(), 0), 0u);
    EXPECT_EQ(FindProcessByNtQuery(L"no-such-program.exe", 0), 0u);
    EXPECT_EQ(FindProcessByNtQuery(L"test_script.exe", 0), GetCurrentProcessId());
    EXPECT_EQ(FindProcessByNtQuery(L"test_script.exe", GetCurrentProcessId()), 0u);
}

TEST_F(SystemCommandTest, KillModuleClosesAProgramThatListens)
{
    HelperProcess helper(m_bin + L"\\closeme.exe");
    ASSERT_TRUE(helper.Ready());
    RunLine(L"KILLMODULE", L"closeme.exe");
    EXPECT_EQ(LastResult(), "1");
    EXPECT_TRUE(Traced("KillModule(closeme.exe)->Closed"));
    EXPECT_TRUE(Traced("ScriptKillModule(closeme.exe)->1"));
    // It ended by itself, with its own exit code.
    EXPECT_EQ(helper.ExitCode(), 0u);
}

TEST_F(SystemCommandTest, KillModuleTerminatesAProgramThatIgnoresClose)
{
    HelperProcess helper(m_bin + L"\\nocloseme.exe");
    ASSERT_TRUE(helper.Ready());
    DWORD start = GetTickCount();
    RunLine(L"CLOSEMODULE", L"<PATH_TRV>\\nocloseme.exe");
    printf("CLOSEMODULE of a program that ignores WM_CLOSE: %lu ms\n",
           static_cast<unsigned long>(GetTickCount() - start));
    EXPECT_EQ(LastResult(), "1");
    std::string path = Narrow(m_bin) + "\\nocloseme.exe";
    EXPECT_TRUE(Traced("KillModule(" + path + ")->TerminateProcess=1"));
    EXPECT_TRUE(Traced("ScriptKillModule(" + path + ")->1"));
    EXPECT_EQ(helper.ExitCode(), 0u);
}

TEST_F(SystemCommandTest, KillModuleLeavesAnotherRunsProgramAlone)
{
    // A program started from another run's scratch folder below TEMP (a
    // stand-in here), the way a package that runs this one has its setup.
    WCHAR szSavedTemp[PATH_CCH], szSavedTrv[PATH_CCH];
    Copy(szSavedTemp, TestRun().szFolders[PV_TEMP]);
    Copy(szSavedTrv, TestRun().szTempTRV);
    Copy(TestRun().szFolders[PV_TEMP], m_dir.c_str());
    std::wstring other = m_dir + L"\\" + TRV_DEFAULT_GUID + L".4242";
    std::wstring ours = m_dir + L"\\" + TRV_DEFAULT_GUID;
    CreateDirectoryW(other.c_str(), nullptr);
    CreateDirectoryW(ours.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW((m_bin + L"\\closeme.exe").c_str(), (other + L"\\closeme.exe").c_str(), FALSE));
    {
        HelperProcess helper(other + L"\\closeme.exe");
        ASSERT_TRUE(helper.Ready());
        Copy(TestRun().szTempTRV, ours.c_str());
        RunLine(L"KILLMODULE", L"closeme.exe");
        EXPECT_EQ(LastResult(), "0");
        EXPECT_TRUE(tracesink::ContainsPrefix("KillModule(closeme.exe)->Process "));
        EXPECT_TRUE(Traced("KillModule(closeme.exe)->No process to end"));
        // Started from this run's own folder, it is the script's to close.
        Copy(TestRun().szTempTRV, other.c_str());
        RunLine(L"KILLMODULE", L"closeme.exe");
        EXPECT_EQ(LastResult(), "1");
        EXPECT_EQ(helper.ExitCode(), 0u);
    }
    Copy(TestRun().szFolders[PV_TEMP], szSavedTemp);
    Copy(TestRun().szTempTRV, szSavedTrv);
}

TEST_F(SystemCommandTest, KillModuleOfNothingOrOfItself)
{
    RunLine(L"KILLMODULE", L"no-such-program.exe");
    EXPECT_EQ(LastResult(), "0");
    EXPECT_TRUE(Traced("ScriptKillModule(no-such-program.exe)->0"));
    // The running program itself is never a candidate.
    RunLine(L"KILLMODULE", L"test_script.exe");
    EXPECT_EQ(LastResult(), "0");
    EXPECT_TRUE(Traced("KillModule(test_script.exe)->No process to end"));
}

const wchar_t kService[] = L"StowawayTestSvc";

// Stops a service and waits until its process has ended.
void StopAndWait(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS process = {};
    DWORD needed = 0;
    QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process),
                         sizeof(process), &needed);
    HANDLE hProcess = process.dwProcessId ? OpenProcess(SYNCHRONIZE, FALSE, process.dwProcessId)
                                          : nullptr;
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    if (hProcess) {
        WaitForSingleObject(hProcess, 10000);
        CloseHandle(hProcess);
    }
}

// Removes a service of an earlier run, if any.
void DeleteServiceNamed(SC_HANDLE manager, const wchar_t* name)
{
    SC_HANDLE old = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
    if (old) {
        StopAndWait(old);
        DeleteService(old);
        CloseServiceHandle(old);
    }
}

SC_HANDLE CreateTestService(SC_HANDLE manager, const wchar_t* name, const std::wstring& exe)
{
    std::wstring cmd = L"\"" + exe + L"\" " + name;
    return CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                          SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, cmd.c_str(), nullptr, nullptr,
                          nullptr, nullptr, nullptr);
}

// Installs the test service for one test and removes it afterwards.
class TestService {
public:
    explicit TestService(const std::wstring& exe)
    {
        m_manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (!m_manager)
            return;
        DeleteServiceNamed(m_manager, kService);
        m_service = CreateTestService(m_manager, kService, exe);
    }
    ~TestService()
    {
        if (m_service) {
            StopAndWait(m_service);
            DeleteService(m_service);
            CloseServiceHandle(m_service);
        }
        if (m_manager)
            CloseServiceHandle(m_manager);
    }
    bool Installed() const { return m_service != nullptr; }
    // Starts the service and waits until it runs. A freshly started Wine
    // session refuses service starts for a while (1055 while it starts its
    // own services, 1053 when our process is slow to come up): a few tries.
    bool Start()
    {
        DWORD begin = GetTickCount();
        while (GetTickCount() - begin < 120000) {
            if (StartServiceW(m_service, 0, nullptr) ||
                GetLastError() == ERROR_SERVICE_ALREADY_RUNNING)
                break;
            DWORD error = GetLastError();
            if (error != ERROR_SERVICE_DATABASE_LOCKED && error != ERROR_SERVICE_REQUEST_TIMEOUT)
                return false;
            Sleep(500);
        }
        while (GetTickCount() - begin < 120000) {
            if (State() == SERVICE_RUNNING) {
                printf("service started after %lu ms\n",
                       static_cast<unsigned long>(GetTickCount() - begin));
                return true;
            }
            Sleep(100);
        }
        return false;
    }
    DWORD State() const
    {
        SERVICE_STATUS status = {};
        QueryServiceStatus(m_service, &status);
        return status.dwCurrentState;
    }

private:
    SC_HANDLE m_manager = nullptr;
    SC_HANDLE m_service = nullptr;
};

TEST_F(SystemCommandTest, ServiceStartAndStop)
{
    {
        TestService service(m_bin + L"\\svc.exe");
        ASSERT_TRUE(service.Installed());
        ASSERT_TRUE(service.Start());
        EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_RUNNING));

        tracesink::Clear();
        RunLine(L"STOPSERVICE", L"StowawayTestSvc");
        EXPECT_EQ(LastResult(), "1");
        EXPECT_TRUE(Traced("WaitForServiceToReachState()->Success"));
        EXPECT_EQ(service.State(), static_cast<DWORD>(SERVICE_STOPPED));

        // A stopped service can not be stopped again.
        tracesink::Clear();
        RunLine(L"STOPSERVICE", L"StowawayTestSvc");
        EXPECT_EQ(LastResult(), "0");
        EXPECT_TRUE(Traced("StopService()->ControlService failed"));
    }
    // Removed: the command reports a missing service.
    tracesink::Clear();
    RunLine(L"STOPSERVICE", L"StowawayTestSvc");
    EXPECT_EQ(LastResult(), "0");
    EXPECT_TRUE(Traced("StopService()->OpenService failed"));
}

// Registry records of the registration helpers.
std::wstring HelperValue(const wchar_t* key, const wchar_t* name)
{
    WCHAR sz[512] = L"";
    if (RegDBGetKeyValue(HKEY_CURRENT_USER, key, name, sz, ARRAYSIZE(sz)) != ERROR_SUCCESS)
        return L"";
    return sz;
}

TEST_F(SystemCommandTest, RegisterFileTable)
{
    const wchar_t* comKey = L"Software\\StowawayTestComreg";
    std::wstring dll = m_bin + L"\\comreg.dll";
    std::wstring ocx = m_dir + L"\\control.ocx";
    WriteFile(ocx, "not a control");
    struct Case {
        std::wstring params;
        DWORD dllResult;  // what DllRegisterServer and DllUnregisterServer return
        std::string lastResult;
        const wchar_t* key;  // whose "Calls" value grows
        const wchar_t* calls;
        std::string traced;
    };
    const std::string d = Narrow(dll), o = Narrow(ocx);
    const Case cases[] = {
        {dll + L",1", 0, "1", comKey, L"R", "RegisterFile()->" + d + " DllRegisterServer successfully!"},
        {dll, 0, "1", comKey, L"R", "ScriptRegisterFile(" + d + ",,1)->1"},
        {dll + L",0", 0, "1", comKey, L"U", "RegisterFile()->" + d + " DllUnregisterServer successfully!"},
        {dll + L",1", 0x80004005, "0", comKey, L"R",
         "RegisterFile()->" + d + " DllRegisterServer failed! (80004005)"},
        {dll + L",1", 1, "0", comKey, L"R", "RegisterFile()->" + d + " DllRegisterServer failed! (1)"},
        {ocx + L",1", 0, "0", nullptr, L"", "RegisterFile(" + o + ", , 1)->File not supported!"},
        {m_dir + L"\\missing.dll,1", 0, "0", nullptr, L"",
         "RegisterFile(" + m_n + "\\missing.dll, , 1)->File doesn't exits!"},
        {dll + L",1,,,,Label", 0, "0", comKey, L"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.params));
        SHDeleteKeyW(HKEY_CURRENT_USER, comKey);
        if (c.dllResult) {
            ASSERT_EQ(RegDBSetKeyValue(HKEY_CURRENT_USER, comKey, L"Result", REG_DWORD,
                                       std::to_wstring(static_cast<int>(c.dllResult)).c_str(),
                                       2048),
                      0u);
        }
        tracesink::Clear();
        RunLine(L"REGISTERFILE", c.params);
        EXPECT_EQ(LastResult(), c.lastResult);
        if (c.key) {
            EXPECT_EQ(HelperValue(c.key, L"Calls"), c.calls);
        }
        if (!c.traced.empty()) {
            EXPECT_TRUE(Traced(c.traced));
        }
    }
    SHDeleteKeyW(HKEY_CURRENT_USER, comKey);
}

}  // namespace
