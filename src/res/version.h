#pragma once
#define STOWAWAY_VERSION_NUM    1,0,0,1
#define STOWAWAY_VERSION_TEXT   "1.0.0.1"
