#include "common/cancel.h"

volatile LONG g_bCancel;
