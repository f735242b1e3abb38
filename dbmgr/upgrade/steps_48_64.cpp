/*
 * steps_48_64.cpp - upgrade steps from version 48 to 65.  (Not yet written.)
 */
#include "upgrade.h"

int UpgradeStep48(void)
{
   return 0;
}

int UpgradeStep49(void)
{
   return 0;
}

int UpgradeStep50(void)
{
   return 0;
}

int UpgradeStep51(void)
{
   return 0;
}

int UpgradeStep52(void)
{
   return 0;
}

int UpgradeStep53(void)
{
   return 0;
}

int UpgradeStep54(void)
{
   return 0;
}

int UpgradeStep55(void)
{
   return 0;
}

int UpgradeStep56(void)
{
   return 0;
}

int UpgradeStep57(void)
{
   return 0;
}

int UpgradeStep58(void)
{
   return 0;
}

int UpgradeStep59(void)
{
   return 0;
}

int UpgradeStep60(void)
{
   return 0;
}

int UpgradeStep61(void)
{
   return 0;
}

int UpgradeStep62(void)
{
   return 0;
}

int UpgradeStep63(void)
{
   return 0;
}

int UpgradeStep64(void)
{
   return 0;
}
