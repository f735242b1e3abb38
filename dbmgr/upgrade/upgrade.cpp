/*
 * upgrade.cpp - the upgrade command.  (Not yet written.)
 */
#include "../vldbmgr.h"

void RunUpgradeCommand(void)
{
}
