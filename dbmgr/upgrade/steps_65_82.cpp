/*
 * steps_65_82.cpp - upgrade steps from version 65 to 83.  (Not yet written.)
 */
#include "upgrade.h"

int UpgradeStep65(void)
{
   return 0;
}

int UpgradeStep66(void)
{
   return 0;
}

int UpgradeStep67(void)
{
   return 0;
}

int UpgradeStep68(void)
{
   return 0;
}

int UpgradeStep69(void)
{
   return 0;
}

int UpgradeStep70(void)
{
   return 0;
}

int UpgradeStep71(void)
{
   return 0;
}

int UpgradeStep72(void)
{
   return 0;
}

int UpgradeStep73(void)
{
   return 0;
}

int UpgradeStep74(void)
{
   return 0;
}

int UpgradeStep75(void)
{
   return 0;
}

int UpgradeStep76(void)
{
   return 0;
}

int UpgradeStep77(void)
{
   return 0;
}

int UpgradeStep78(void)
{
   return 0;
}

int UpgradeStep79(void)
{
   return 0;
}

int UpgradeStep80(void)
{
   return 0;
}

int UpgradeStep81(void)
{
   return 0;
}

int UpgradeStep82(void)
{
   return 0;
}
