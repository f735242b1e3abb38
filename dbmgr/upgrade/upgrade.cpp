/*
 * upgrade.cpp - the upgrade command: reads the stored format version, keeps
 * off a locked database, and walks the step table from the stored version to
 * TOOL_DB_VERSION, one transaction per step.
 *
 * The step routines live in steps_14_29.cpp, steps_30_47.cpp,
 * steps_48_64.cpp and steps_65_82.cpp; the runner they share in
 * steprunner.cpp.
 */
#include "upgrade.h"
#include <string.h>

/*
 * The step table: the routine of the record for version N moves the
 * database from N to N+1.  One record for every version from 14 to 82, in
 * ascending order, then the terminating record.  Its shape is checked when
 * the tool is compiled (see below).
 */
extern constexpr UpgradeStepRecord g_upgradeSteps[] =
{
   /* from-version, routine */
   { 14, UpgradeStep14 }, { 15, UpgradeStep15 }, { 16, UpgradeStep16 }, { 17, UpgradeStep17 },
   { 18, UpgradeStep18 }, { 19, UpgradeStep19 }, { 20, UpgradeStep20 }, { 21, UpgradeStep21 },
   { 22, UpgradeStep22 }, { 23, UpgradeStep23 }, { 24, UpgradeStep24 }, { 25, UpgradeStep25 },
   { 26, UpgradeStep26 }, { 27, UpgradeStep27 }, { 28, UpgradeStep28 }, { 29, UpgradeStep29 },
   { 30, UpgradeStep30 }, { 31, UpgradeStep31 }, { 32, UpgradeStep32 }, { 33, UpgradeStep33 },
   { 34, UpgradeStep34 }, { 35, UpgradeStep35 }, { 36, UpgradeStep36 }, { 37, UpgradeStep37 },
   { 38, UpgradeStep38 }, { 39, UpgradeStep39 }, { 40, UpgradeStep40 }, { 41, UpgradeStep41 },
   { 42, UpgradeStep42 }, { 43, UpgradeStep43 }, { 44, UpgradeStep44 }, { 45, UpgradeStep45 },
   { 46, UpgradeStep46 }, { 47, UpgradeStep47 }, { 48, UpgradeStep48 }, { 49, UpgradeStep49 },
   { 50, UpgradeStep50 }, { 51, UpgradeStep51 }, { 52, UpgradeStep52 }, { 53, UpgradeStep53 },
   { 54, UpgradeStep54 }, { 55, UpgradeStep55 }, { 56, UpgradeStep56 }, { 57, UpgradeStep57 },
   { 58, UpgradeStep58 }, { 59, UpgradeStep59 }, { 60, UpgradeStep60 }, { 61, UpgradeStep61 },
   { 62, UpgradeStep62 }, { 63, UpgradeStep63 }, { 64, UpgradeStep64 }, { 65, UpgradeStep65 },
   { 66, UpgradeStep66 }, { 67, UpgradeStep67 }, { 68, UpgradeStep68 }, { 69, UpgradeStep69 },
   { 70, UpgradeStep70 }, { 71, UpgradeStep71 }, { 72, UpgradeStep72 }, { 73, UpgradeStep73 },
   { 74, UpgradeStep74 }, { 75, UpgradeStep75 }, { 76, UpgradeStep76 }, { 77, UpgradeStep77 },
   { 78, UpgradeStep78 }, { 79, UpgradeStep79 }, { 80, UpgradeStep80 }, { 81, UpgradeStep81 },
   { 82, UpgradeStep82 },
   { 0, NULL }
};

/* Oldest format version the tool can upgrade from. */
#define OLDEST_UPGRADABLE_VERSION 14

/*
 * IsStepTableContiguous - true when the table holds exactly one record for
 * every version from 14 to TOOL_DB_VERSION - 1, in order, followed by the
 * terminating record.
 */
static constexpr bool IsStepTableContiguous(void)
{
   int i = 0;
   for (int nVersion = OLDEST_UPGRADABLE_VERSION; nVersion < TOOL_DB_VERSION; nVersion++, i++)
   {
      // Only the versions are compared: under -fsanitize=undefined the
      // compiler no longer treats "function address == NULL" as a constant,
      // and every record names its routine anyway.
      if (g_upgradeSteps[i].nVersion != nVersion)
         return false;
   }
   return g_upgradeSteps[i].nVersion == 0;
}

static_assert(IsStepTableContiguous(), "g_upgradeSteps must hold one record per version from 14 to 82, then {0, NULL}");

/* Size of the buffer the lock value is read into. */
#define LOCK_STATUS_SIZE 256

/*
 * IsUpgradeLocked - the lock test of the upgrade: locked unless the row
 * DBLockStatus holds exactly "UNLOCKED", compared as stored (not decoded).
 * A failed query or a missing row counts as unlocked.  Not traced.
 */
static int IsUpgradeLocked(void)
{
   char szStatus[LOCK_STATUS_SIZE];
   int bLocked = 0;

   db_result_t hResult = DBSelect(g_hDatabase, "SELECT var_value FROM config WHERE var_name='DBLockStatus'");
   if (hResult != NULL)
   {
      if (DBGetNumRows(hResult) > 0)
      {
         DBGetField(hResult, 0, 0, szStatus, sizeof(szStatus));
         bLocked = (strcmp(szStatus, "UNLOCKED") != 0);
      }
      DBFreeResult(hResult);
   }
   return bLocked;
}

/* FindUpgradeStep - the routine that moves the database from nVersion, or NULL. */
static int (*FindUpgradeStep(int32_t nVersion))(void)
{
   for (int i = 0; g_upgradeSteps[i].nVersion != 0; i++)
   {
      if (g_upgradeSteps[i].nVersion == nVersion)
         return g_upgradeSteps[i].pfnUpgrade;
   }
   return NULL;
}

/*
 * WarnPartlyApplied - MySQL and MariaDB commit implicitly before and after
 * every schema change, so the rollback of a failed step undoes only what the
 * step changed since its last DDL statement.
 */
static void WarnPartlyApplied(int32_t nVersion)
{
   if (g_nDbSyntax != DIALECT_MYSQL)
      return;
   ConsolePrintf("WARNING: MySQL commits every schema change at once: what the step from version %d to %d\n"
                 "changed in the schema before the error cannot be rolled back, so the step may be partly applied.\n",
                 (int)nVersion, (int)nVersion + 1);
}

void RunUpgradeCommand(void)
{
   int32_t nVersion = 0;

   ConsolePrintf("Upgrading database...\n");

   if (ReadFormatVersion(&nVersion))
   {
      if (nVersion == TOOL_DB_VERSION)
      {
         ConsolePrintf("Your database format is up to date\n");
         return;
      }
      if (nVersion > TOOL_DB_VERSION)
      {
         PrintNewerFormatVersion(nVersion);
         return;
      }
   }

   if (IsUpgradeLocked())
   {
      ConsolePrintf("Database is locked\n");
      return;
   }

   while (nVersion < TOOL_DB_VERSION)
   {
      int (*pfnUpgrade)(void) = FindUpgradeStep(nVersion);
      if (pfnUpgrade == NULL)
      {
         ConsolePrintf("Unable to find upgrade procedure for version %d\n", (int)nVersion);
         break;
      }

      ConsolePrintf("Upgrading from version %d to %d\n", (int)nVersion, (int)nVersion + 1);

      /* Without a transaction the step's statements would stand one by one
         and a failure could not be undone: do not run it at all. */
      if (!DBBegin(g_hDatabase))
      {
         ConsolePrintf("Unable to start a transaction for the upgrade from version %d to %d\n",
                       (int)nVersion, (int)nVersion + 1);
         break;
      }

      if (!pfnUpgrade())
      {
         ConsolePrintf("Rolling back last stage due to upgrade errors...\n");
         WarnPartlyApplied(nVersion);
         DBRollback(g_hDatabase);
         break;
      }

      /* A step counts only once its commit has stored the new version. */
      if (!DBCommit(g_hDatabase))
      {
         ConsolePrintf("Unable to commit the upgrade from version %d to %d\n", (int)nVersion, (int)nVersion + 1);
         ConsolePrintf("Rolling back last stage due to upgrade errors...\n");
         WarnPartlyApplied(nVersion);
         DBRollback(g_hDatabase);
         break;
      }
      nVersion++;
   }

   ConsolePrintf("Database upgrade %s\n", (nVersion == TOOL_DB_VERSION) ? "succeeded" : "failed");
}
