// The script commands CREATEKEY, REMOVEKEY and COPYREGISTRY.
#pragma once
#include <windows.h>

UINT ScriptCreateKey(LPCWSTR szParams);
UINT ScriptRemoveKey(LPCWSTR szParams);
UINT ScriptCopyRegistry(LPCWSTR szParams);
