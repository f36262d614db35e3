#pragma once

// The Atlor system tables: for each of the 24 tables, its fields and its indexes in the order
// they are created. The first index of every table is its primary key; the index names document
// the indexes but are not applied (the back-end names the indexes it creates).

#include <span>
#include <string_view>

#include "ardb/ardbs.h"

namespace atlor {

extern const TArDbFieldDef kAtlorDbinfoFields[5];
extern const TArDbIndexDef kAtlorDbinfoIndexes[1];
extern const TArDbFieldDef kAtlorAclFields[6];
extern const TArDbIndexDef kAtlorAclIndexes[1];
extern const TArDbFieldDef kAtlorLinksFields[2];
extern const TArDbIndexDef kAtlorLinksIndexes[2];
extern const TArDbFieldDef kAtlorProjectsFields[3];
extern const TArDbIndexDef kAtlorProjectsIndexes[1];
extern const TArDbFieldDef kAtlorProjmapsFields[3];
extern const TArDbIndexDef kAtlorProjmapsIndexes[3];
extern const TArDbFieldDef kAtlorAreasFields[8];
extern const TArDbIndexDef kAtlorAreasIndexes[1];
extern const TArDbFieldDef kAtlorMapsFields[6];
extern const TArDbIndexDef kAtlorMapsIndexes[2];
extern const TArDbFieldDef kAtlorRastmapsFields[14];
extern const TArDbIndexDef kAtlorRastmapsIndexes[1];
extern const TArDbFieldDef kAtlorRastersFields[10];
extern const TArDbIndexDef kAtlorRastersIndexes[2];
extern const TArDbFieldDef kAtlorLayersFields[6];
extern const TArDbIndexDef kAtlorLayersIndexes[2];
extern const TArDbFieldDef kAtlorStylesFields[4];
extern const TArDbIndexDef kAtlorStylesIndexes[2];
extern const TArDbFieldDef kAtlorSemtablsFields[6];
extern const TArDbIndexDef kAtlorSemtablsIndexes[2];
extern const TArDbFieldDef kAtlorRelationFields[6];
extern const TArDbIndexDef kAtlorRelationIndexes[3];
extern const TArDbFieldDef kAtlorSectorsFields[11];
extern const TArDbIndexDef kAtlorSectorsIndexes[2];
extern const TArDbFieldDef kAtlorObjinfoFields[3];
extern const TArDbIndexDef kAtlorObjinfoIndexes[2];
extern const TArDbFieldDef kAtlorRefbooksFields[6];
extern const TArDbIndexDef kAtlorRefbooksIndexes[1];
extern const TArDbFieldDef kAtlorAddondatFields[2];
extern const TArDbIndexDef kAtlorAddondatIndexes[1];
extern const TArDbFieldDef kAtlorPrefsFields[5];
extern const TArDbIndexDef kAtlorPrefsIndexes[1];
extern const TArDbFieldDef kAtlorUsersFields[5];
extern const TArDbIndexDef kAtlorUsersIndexes[1];
extern const TArDbFieldDef kAtlorUsergrpsFields[3];
extern const TArDbIndexDef kAtlorUsergrpsIndexes[1];
extern const TArDbFieldDef kAtlorUsrGrpFields[2];
extern const TArDbIndexDef kAtlorUsrGrpIndexes[2];
extern const TArDbFieldDef kAtlorThemesFields[3];
extern const TArDbIndexDef kAtlorThemesIndexes[2];
extern const TArDbFieldDef kAtlorIdmaperFields[3];
extern const TArDbIndexDef kAtlorIdmaperIndexes[1];
extern const TArDbFieldDef kAtlorModulesFields[3];
extern const TArDbIndexDef kAtlorModulesIndexes[2];

// One system table: its name and its definition arrays.
struct AtlorTableSchema {
  std::string_view Name;
  std::span<const TArDbFieldDef> Fields;
  std::span<const TArDbIndexDef> Indexes;
};

// All 24 tables, in the order the system keeps them.
extern const AtlorTableSchema kAtlorTables[24];
// The schema of a table by its name (case ignored), or null.
const AtlorTableSchema* FindAtlorTable(std::string_view name);

}  // namespace atlor
