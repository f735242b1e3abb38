/*
 * steps_14_29.cpp - upgrade steps from version 14 to 30.  (Not yet written: each
 * step fails.)
 */
#include "upgrade.h"

int UpgradeStep14(void)
{
   return 0;
}

int UpgradeStep15(void)
{
   return 0;
}

int UpgradeStep16(void)
{
   return 0;
}

int UpgradeStep17(void)
{
   return 0;
}

int UpgradeStep18(void)
{
   return 0;
}

int UpgradeStep19(void)
{
   return 0;
}

int UpgradeStep20(void)
{
   return 0;
}

int UpgradeStep21(void)
{
   return 0;
}

int UpgradeStep22(void)
{
   return 0;
}

int UpgradeStep23(void)
{
   return 0;
}

int UpgradeStep24(void)
{
   return 0;
}

int UpgradeStep25(void)
{
   return 0;
}

int UpgradeStep26(void)
{
   return 0;
}

int UpgradeStep27(void)
{
   return 0;
}

int UpgradeStep28(void)
{
   return 0;
}

int UpgradeStep29(void)
{
   return 0;
}

