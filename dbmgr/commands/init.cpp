/*
 * init.cpp - the init command.  (Not yet written.)
 */
#include "../vldbmgr.h"

void RunInitCommand(const char *pszFile)
{
   (void)pszFile;
}
