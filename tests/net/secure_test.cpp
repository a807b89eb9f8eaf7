// What a download trusts and what it tells the trace: HTTPS certificates are
// checked for their authority, host name and dates; passwords never reach
// the trace.
#include <gtest/gtest.h>
#include <windows.h>
#include <wininet.h>
#include <string>
#include "common/filesys.h"
#include "net/connectivity.h"
#include "net/download.h"
#include "state/state.h"
#include "ui/progress.h"
#include "netservers.h"
#include "support/tracesink.h"

namespace {

std::string Narrow(const std::wstring& w)
{
    return std::string(w.begin(), w.end());
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

const SYSTEMTIME kServedDate = {2025, 3, 5, 14, 15, 9, 26, 0};

class SecureDownload : public testing::Test {
protected:
    void SetUp() override
    {
        const netservers::Info& info = netservers::Get();
        ASSERT_TRUE(info.ok) << info.error;
        // The run's check, as the launcher starts it, for the test servers'
        // own names: the public host is not looked up over the network.
        ForgetConnectionCheck();
        StartConnectionCheck(L"localhost", L"localhost");
        g_bCancel = 0;
        g_Progress.DefineStep(0, 100, 0);
        g_Progress.MaxData = 0;
        g_Progress.SetBytesDone(0);
        WCHAR temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        dir_ = std::wstring(temp) + L"stowaway-secure-" + std::to_wstring(GetCurrentProcessId());
        (void)RemoveDirectoryTree(dir_.c_str(), FS_INCLUDE_SUBDIR);  // left by a killed run, if any
        ASSERT_EQ(CreateAllDirectory(dir_.c_str()), 0u);
        tracesink::Clear();
    }
    void TearDown() override
    {
        ForgetConnectionCheck();
        // A transfer given up on may still hold its file: what stays is
        // below the temporary folder.
        (void)RemoveDirectoryTree(dir_.c_str(), FS_INCLUDE_SUBDIR);
    }
    std::wstring dir_;
};

TEST_F(SecureDownload, CertificatesAreCheckedForHostAndDates)
{
    netservers::ServeFile(L"cert.bin", 2000, kServedDate);
    const struct {
        const char* what;
        std::wstring url;
        DWORD result;
    } cases[] = {
        {"the test authority's certificate for this host", netservers::HttpsUrl(L"/cert.bin"), 0},
        {"a certificate for another host", netservers::WrongHostUrl(L"/cert.bin"),
         ERROR_INTERNET_SEC_CERT_CN_INVALID},
        {"a certificate that has expired", netservers::ExpiredUrl(L"/cert.bin"),
         ERROR_INTERNET_SEC_CERT_DATE_INVALID},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring target = dir_ + L"\\cert.bin";
        DeleteFileW(target.c_str());
        tracesink::Clear();
        EXPECT_EQ(DownloadFile(c.url.c_str(), L"", L"", target.c_str(), FALSE), c.result)
            << tracesink::Dump();
        EXPECT_EQ(Exists(target), c.result == 0);
        if (c.result != 0) {
            EXPECT_TRUE(tracesink::ContainsPrefix("HttpSendRequest->")) << tracesink::Dump();
        }
    }
}

TEST_F(SecureDownload, PasswordsNeverReachTheTrace)
{
    netservers::ServeFile(L"secret.bin", 300, kServedDate);
    const netservers::Info& info = netservers::Get();
    const std::wstring ftpPort = std::to_wstring(info.ftpPort);
    const std::string password = Narrow(info.ftpPassword);
    const struct {
        const char* what;
        std::wstring url;
        std::wstring user;
        std::wstring password;
        DWORD result;
    } cases[] = {
        {"FTP login in the URL", netservers::FtpUrl(L"/secret.bin", true), L"", L"", 0},
        {"FTP login given apart", netservers::FtpUrl(L"/secret.bin", false), info.ftpUser,
         info.ftpPassword, 0},
        {"HTTP login given apart", netservers::HttpUrl(L"/secret.bin"), L"who", info.ftpPassword, 0},
        {"HTTPS login in the URL", L"https://who:" + info.ftpPassword + L"@localhost:" +
                                       std::to_wstring(info.httpsPort) + L"/secret.bin",
         L"", L"", 0},
        {"a refused FTP login", L"ftp://" + info.ftpUser + L":" + info.ftpPassword + L"x@127.0.0.1:" +
                                   ftpPort + L"/secret.bin",
         L"", L"", ERROR_INTERNET_LOGIN_FAILURE},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring target = dir_ + L"\\secret.bin";
        DeleteFileW(target.c_str());
        tracesink::Clear();
        EXPECT_EQ(DownloadFile(c.url.c_str(), c.user.c_str(), c.password.c_str(), target.c_str(), FALSE),
                  c.result)
            << tracesink::Dump();
        std::string dump = tracesink::Dump();
        EXPECT_EQ(dump.find(password), std::string::npos) << dump;
        EXPECT_TRUE(tracesink::ContainsPrefix("DownloadFile()->Url=")) << dump;
        EXPECT_NE(dump.find("Password=***"), std::string::npos) << dump;
    }
}

}  // namespace
