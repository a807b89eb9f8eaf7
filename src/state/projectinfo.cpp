#include "state/projectinfo.h"

PROJECTINFO g_ProjectInfo;
WCHAR g_szProductNameShort[SHORTTEXT_CCH];
WCHAR g_szProductVersion[SHORTTEXT_CCH];
BOOL g_bFileList;
