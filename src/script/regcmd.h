// The script commands CREATEKEY, REMOVEKEY and COPYREGISTRY.
#pragma once
#include <windows.h>
#include "script/fields.h"

UINT ScriptCreateKey(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptRemoveKey(SCRIPTRUN& run, LPCWSTR szParams);
UINT ScriptCopyRegistry(SCRIPTRUN& run, LPCWSTR szParams);
