/*
 * reindex.cpp - the reindex command.  (Not yet written.)
 */
#include "../vldbmgr.h"

void RunReindexCommand(void)
{
}
