// Unpacking a staged archive into a folder. The format is told by content:
// cabinet (through the system's cabinet.dll), ZIP (minizip on zlib) or PAC
// (through QELTRON.dll, which packages carry). Cabinet and ZIP unpacking
// advance the progress model and stop at the cancel flag.
//
// Two plain uses besides the payload:
//   one member of a cabinet into a folder:
//       UnPackCABFile(L"x.cab", L"C:\\dir", L"member.dll", FALSE)
//   a whole archive into a folder without its inner folders:
//       UnCompressFile(L"x.cab", L"C:\\dir", FALSE, szScratch)
#pragma once
#include <windows.h>

// 0 done, 11 format not recognised, 1113 a PAC archive's paths have no
// 8-bit form, else the archive's own cause (2, 5, 13, 14, 80, 87, 112,
// 1223, 1920 ...). A PAC archive needs the package's QELTRON.dll, unpacked
// into szLibraryFolder (the scratch folder) by this run.
[[nodiscard]] DWORD UnCompressFile(LPCWSTR szArchive, LPCWSTR szTargetDir, BOOL bRestoreFolders,
                                   LPCWSTR szLibraryFolder);

// Unpacks a cabinet (and the rest of its set) into szTargetDir. With a file
// to extract (a name without folder, compared exactly) only that member is
// written; it is then 2 when the cabinet has no such member. bRestoreFolders
// keeps the folder part of the stored names. This form takes paths in the
// ANSI code page.
[[nodiscard]] DWORD UnPackCABFile(LPCSTR szCabinet, LPCSTR szTargetDir, LPCSTR szFileToExtract,
                                  BOOL bRestoreFolders);
// Same with wide arguments (each at most 259 characters); pass L"" for all
// members.
[[nodiscard]] DWORD UnPackCABFile(LPCWSTR szCabinet, LPCWSTR szTargetDir, LPCWSTR szFileToExtract,
                                  BOOL bRestoreFolders);

// Every entry of a ZIP archive into szTargetDir, flat. 0 done, else the
// cause: 13 damaged (a name, the data, a CRC, the directory), 80 two
// entries of one name in different folders, 14 out of memory, 1223
// cancelled, or the error of a write (112 a full disk, 5, 1920 ...).
// Nothing of a failed archive stays.
[[nodiscard]] DWORD UnZipArchive(LPCWSTR szArchive, LPCWSTR szTargetDir);

// A PAC archive through the QELTRON.dll of szLibraryFolder, loaded on first
// use: 0 done, 1113 when a path has no 8-bit form that names it exactly
// (the library takes no other), 126 without the library.
[[nodiscard]] DWORD UnPacArchive(LPCWSTR szArchive, LPCWSTR szTargetDir, LPCWSTR szLibraryFolder);
// Releases QELTRON.dll at the end of the run, so that the temporary folder
// that holds it can go.
void FreePacUnpacker();

[[nodiscard]] BOOL IsCabinetFile(LPCWSTR szPath);
[[nodiscard]] BOOL IsZipFile(LPCWSTR szPath);
[[nodiscard]] BOOL IsaPacFile(LPCWSTR szPath);
