/*
 * check.cpp - the check command.  (Not yet written.)
 */
#include "../vldbmgr.h"

int g_nErrorsFound = 0;
int g_nErrorsFixed = 0;

void RunCheckCommand(void)
{
}
