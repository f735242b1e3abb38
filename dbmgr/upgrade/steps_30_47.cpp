/*
 * steps_30_47.cpp - upgrade steps from version 30 to 48.  (Not yet written: each
 * step fails.)
 */
#include "upgrade.h"

int UpgradeStep30(void)
{
   return 0;
}

int UpgradeStep31(void)
{
   return 0;
}

int UpgradeStep32(void)
{
   return 0;
}

int UpgradeStep33(void)
{
   return 0;
}

int UpgradeStep34(void)
{
   return 0;
}

int UpgradeStep35(void)
{
   return 0;
}

int UpgradeStep36(void)
{
   return 0;
}

int UpgradeStep37(void)
{
   return 0;
}

int UpgradeStep38(void)
{
   return 0;
}

int UpgradeStep39(void)
{
   return 0;
}

int UpgradeStep40(void)
{
   return 0;
}

int UpgradeStep41(void)
{
   return 0;
}

int UpgradeStep42(void)
{
   return 0;
}

int UpgradeStep43(void)
{
   return 0;
}

int UpgradeStep44(void)
{
   return 0;
}

int UpgradeStep45(void)
{
   return 0;
}

int UpgradeStep46(void)
{
   return 0;
}

int UpgradeStep47(void)
{
   return 0;
}

