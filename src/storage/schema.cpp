#include "storage/schema.h"

#include "core/encoding.h"

namespace atlor {

const TArDbFieldDef kAtlorDbinfoFields[5] = {
    {"DBID", dtString, 64, true},
    {"DBCAPTION", dtString, 200, false},
    {"IDGROUP", dtInteger, 0, false},
    {"IDNUMBER", dtInteger, 0, false},
    {"VERSION", dtInteger, 0, false},
};
const TArDbIndexDef kAtlorDbinfoIndexes[1] = {
    {"ATLOR_DBINFO_PK", "DBID", true, true},
};

const TArDbFieldDef kAtlorAclFields[6] = {
    {"OBJECTID", dtString, 12, true},
    {"SUBCLASSID", dtString, 12, true},
    {"USERID", dtString, 12, true},
    {"USERKIND", dtInteger, 0, false},
    {"SETOPERATIONS", dtInteger, 0, false},
    {"CLEAROPERATIONS", dtInteger, 0, false},
};
const TArDbIndexDef kAtlorAclIndexes[1] = {
    {"ATLOR_ACL_PK", "OBJECTID;SUBCLASSID;USERID", true, true},
};

const TArDbFieldDef kAtlorLinksFields[2] = {
    {"OBJECT1ID", dtString, 12, true},
    {"OBJECT2ID", dtString, 12, true},
};
const TArDbIndexDef kAtlorLinksIndexes[2] = {
    {"ATLOR_LINKS_PK", "OBJECT1ID;OBJECT2ID", true, true},
    {"ATLOR_LINKS_OBJECT2ID", "OBJECT2ID", false, false},
};

const TArDbFieldDef kAtlorProjectsFields[3] = {
    {"ID", dtString, 12, true},
    {"PROJECTNAME", dtString, 129, false},
    {"GPID", dtString, 12, false},
};
const TArDbIndexDef kAtlorProjectsIndexes[1] = {
    {"ATLOR_PROJECTS_PK", "ID", true, true},
};

const TArDbFieldDef kAtlorProjmapsFields[3] = {
    {"ID", dtString, 12, true},
    {"PROJECTID", dtString, 12, false},
    {"PLANEID", dtString, 12, false},
};
const TArDbIndexDef kAtlorProjmapsIndexes[3] = {
    {"ATLOR_PROJMAPS_PK", "ID", true, true},
    {"ATLOR_PROJMAPS_PROJECTID", "PROJECTID", false, false},
    {"ATLOR_PROJMAPS_PLANEID", "PLANEID", false, false},
};

const TArDbFieldDef kAtlorAreasFields[8] = {
    {"ID", dtString, 12, true},
    {"AREANAME", dtString, 65, false},
    {"BOUNDSL", dtFloat, 0, false},
    {"BOUNDSR", dtFloat, 0, false},
    {"BOUNDST", dtFloat, 0, false},
    {"BOUNDSB", dtFloat, 0, false},
    {"MEASUREMENT", dtInteger, 0, false},
    {"NORTHANGLE", dtInteger, 0, false},
};
const TArDbIndexDef kAtlorAreasIndexes[1] = {
    {"ATLOR_AREAS_PK", "ID", true, true},
};

const TArDbFieldDef kAtlorMapsFields[6] = {
    {"ID", dtString, 12, true},
    {"GPID", dtString, 12, false},
    {"MAPNAME", dtString, 65, false},
    {"MAPTYPE", dtInteger, 0, false},
    {"VISIBLEMIN", dtFloat, 0, false},
    {"VISIBLEMAX", dtFloat, 0, false},
};
const TArDbIndexDef kAtlorMapsIndexes[2] = {
    {"ATLOR_MAPS_PK", "ID", true, true},
    {"ATLOR_MAPS_GPID", "GPID", false, false},
};

const TArDbFieldDef kAtlorRastmapsFields[14] = {
    {"ID", dtString, 12, true},
    {"OFFSETX", dtFloat, 0, false},
    {"OFFSETY", dtFloat, 0, false},
    {"TABSIZEX", dtFloat, 0, false},
    {"TABSIZEY", dtFloat, 0, false},
    {"TABDIVX", dtInteger, 0, false},
    {"TABDIVY", dtInteger, 0, false},
    {"TABNUMSTEPX", dtInteger, 0, false},
    {"TABNUMSTEPY", dtInteger, 0, false},
    {"TABNUMSTARTX", dtInteger, 0, false},
    {"TABNUMSTARTY", dtInteger, 0, false},
    {"XDIR", dtInteger, 0, false},
    {"YDIR", dtInteger, 0, false},
    {"COLOR", dtInteger, 0, false},
};
const TArDbIndexDef kAtlorRastmapsIndexes[1] = {
    {"ATLOR_RASTMAPS_PK", "ID", true, true},
};

const TArDbFieldDef kAtlorRastersFields[10] = {
    {"ID", dtString, 12, true},
    {"PLANEID", dtString, 12, false},
    {"NUMX", dtInteger, 0, false},
    {"NUMY", dtInteger, 0, false},
    {"FILENAME", dtString, 256, false},
    {"REPERLEFT", dtInteger, 0, false},
    {"REPERRIGHT", dtInteger, 0, false},
    {"REPERTOP", dtInteger, 0, false},
    {"REPERBOTTOM", dtInteger, 0, false},
    {"COLOR", dtInteger, 0, false},
};
const TArDbIndexDef kAtlorRastersIndexes[2] = {
    {"ATLOR_RASTERS_PK", "ID", true, true},
    {"ATLOR_RASTERS_PLANEID", "PLANEID", false, false},
};

const TArDbFieldDef kAtlorLayersFields[6] = {
    {"ID", dtString, 12, true},
    {"PLANEID", dtString, 12, false},
    {"LAYERNAME", dtString, 129, false},
    {"VISIBLEMIN", dtFloat, 0, false},
    {"VISIBLEMAX", dtFloat, 0, false},
    {"ROOTSECTORID", dtString, 12, false},
};
const TArDbIndexDef kAtlorLayersIndexes[2] = {
    {"ATLOR_LAYERS_PK", "ID", true, true},
    {"ATLOR_LAYERS_PLANEID", "PLANEID", false, false},
};

const TArDbFieldDef kAtlorStylesFields[4] = {
    {"ID", dtString, 12, true},
    {"LAYERID", dtString, 12, false},
    {"STYLENAME", dtString, 65, false},
    {"DATA", dtBinary, 250, false},
};
const TArDbIndexDef kAtlorStylesIndexes[2] = {
    {"ATLOR_STYLES_PK", "ID", true, true},
    {"ATLOR_STYLES_LAYERID", "LAYERID", false, false},
};

const TArDbFieldDef kAtlorSemtablsFields[6] = {
    {"ID", dtString, 12, true},
    {"LAYERID", dtString, 12, false},
    {"SEMTABLENAME", dtString, 65, false},
    {"TABLENAME", dtString, 65, false},
    {"LINKTYPE", dtInteger, 0, false},
    {"REFBOOKFIELD", dtBinary, 250, false},
};
const TArDbIndexDef kAtlorSemtablsIndexes[2] = {
    {"ATLOR_SEMTABLS_PK", "ID", true, true},
    {"ATLOR_SEMTABLS_LAYERID", "LAYERID", false, false},
};

const TArDbFieldDef kAtlorRelationFields[6] = {
    {"ID", dtString, 12, true},
    {"RELATIONNAME", dtString, 64, false},
    {"REACTION1", dtInteger, 0, false},
    {"REACTION2", dtInteger, 0, false},
    {"LAYER1ID", dtString, 12, false},
    {"LAYER2ID", dtString, 12, false},
};
const TArDbIndexDef kAtlorRelationIndexes[3] = {
    {"ATLOR_RELATION_PK", "ID", true, true},
    {"ATLOR_RELATION_LAYER1ID", "LAYER1ID", false, false},
    {"ATLOR_RELATION_LAYER2ID", "LAYER2ID", false, false},
};

const TArDbFieldDef kAtlorSectorsFields[11] = {
    {"ID", dtString, 12, true},
    {"LAYERID", dtString, 12, false},
    {"BOUNDSL", dtFloat, 0, false},
    {"BOUNDSR", dtFloat, 0, false},
    {"BOUNDST", dtFloat, 0, false},
    {"BOUNDSB", dtFloat, 0, false},
    {"S0", dtString, 12, false},
    {"S1", dtString, 12, false},
    {"S2", dtString, 12, false},
    {"S3", dtString, 12, false},
    {"OBJECTS", dtBinary, 0, false},
};
const TArDbIndexDef kAtlorSectorsIndexes[2] = {
    {"ATLOR_SECTORS_PK", "ID", true, true},
    {"ATLOR_SECTORS_LAYERID", "LAYERID", false, false},
};

const TArDbFieldDef kAtlorObjinfoFields[3] = {
    {"ID", dtString, 12, true},
    {"LAYERID", dtString, 12, false},
    {"SECTORID", dtString, 12, false},
};
const TArDbIndexDef kAtlorObjinfoIndexes[2] = {
    {"ATLOR_OBJINFO_PK", "ID", true, true},
    {"ATLOR_OBJINFO_LAYERID", "LAYERID", false, false},
};

const TArDbFieldDef kAtlorRefbooksFields[6] = {
    {"ID", dtString, 12, true},
    {"REFBOOKNAME", dtString, 65, false},
    {"BDEALIAS", dtString, 65, false},
    {"TABLENAME", dtString, 65, false},
    {"REFBOOKTYPE", dtInteger, 0, false},
    {"USECOUNT", dtInteger, 0, false},
};
const TArDbIndexDef kAtlorRefbooksIndexes[1] = {
    {"ATLOR_REFBOOKS_PK", "ID", true, true},
};

const TArDbFieldDef kAtlorAddondatFields[2] = {
    {"KEYNAME", dtString, 250, true},
    {"DATA", dtBinary, 0, false},
};
const TArDbIndexDef kAtlorAddondatIndexes[1] = {
    {"ATLOR_ADDONDAT_PK", "KEYNAME", true, true},
};

const TArDbFieldDef kAtlorPrefsFields[5] = {
    {"USERID", dtString, 12, true},
    {"PROJECTID", dtString, 12, true},
    {"OBJECTID", dtString, 12, true},
    {"KEYNAME", dtString, 100, true},
    {"DATA", dtString, 100, false},
};
const TArDbIndexDef kAtlorPrefsIndexes[1] = {
    {"ATLOR_PREFS_PK", "USERID;PROJECTID;OBJECTID;KEYNAME", true, true},
};

const TArDbFieldDef kAtlorUsersFields[5] = {
    {"ID", dtString, 12, true},
    {"USERNAME", dtString, 50, false},
    {"FULLNAME", dtString, 50, false},
    {"DESCRIPTION", dtString, 50, false},
    {"USERPASSWORD", dtString, 50, false},
};
const TArDbIndexDef kAtlorUsersIndexes[1] = {
    {"ATLOR_USERS_PK", "ID", true, true},
};

const TArDbFieldDef kAtlorUsergrpsFields[3] = {
    {"ID", dtString, 12, true},
    {"GROUPNAME", dtString, 50, false},
    {"DESCRIPTION", dtString, 50, false},
};
const TArDbIndexDef kAtlorUsergrpsIndexes[1] = {
    {"ATLOR_USERGRPS_PK", "ID", true, true},
};

const TArDbFieldDef kAtlorUsrGrpFields[2] = {
    {"GROUPID", dtString, 12, true},
    {"USERID", dtString, 12, true},
};
const TArDbIndexDef kAtlorUsrGrpIndexes[2] = {
    {"ATLOR_USR_GRP_PK", "GROUPID;USERID", true, true},
    {"ATLOR_USR_GRP_USERID", "USERID", false, false},
};

const TArDbFieldDef kAtlorThemesFields[3] = {
    {"ID", dtString, 12, true},
    {"LAYERID", dtString, 12, false},
    {"DATA", dtBinary, 200, false},
};
const TArDbIndexDef kAtlorThemesIndexes[2] = {
    {"ATLOR_THEMES_PK", "ID", true, true},
    {"ATLOR_THEMES_LAYERID", "LAYERID", false, false},
};

const TArDbFieldDef kAtlorIdmaperFields[3] = {
    {"IDCLASS", dtInteger, 0, true},
    {"LOCALID", dtInteger, 0, true},
    {"GLOBALID", dtString, 38, true},
};
const TArDbIndexDef kAtlorIdmaperIndexes[1] = {
    {"ATLOR_IDMAPER_PK", "IDCLASS;LOCALID", true, true},
};

const TArDbFieldDef kAtlorModulesFields[3] = {
    {"OWNEROBJECTID", dtString, 12, true},
    {"MODULEID", dtString, 12, true},
    {"DATA", dtBinary, 0, false},
};
const TArDbIndexDef kAtlorModulesIndexes[2] = {
    {"ATLOR_MODULES_PK", "OWNEROBJECTID;MODULEID", true, true},
    {"ATLOR_MODULES_MODULEID", "MODULEID", false, false},
};

const AtlorTableSchema kAtlorTables[24] = {
    {"ATLOR_DBINFO", kAtlorDbinfoFields, kAtlorDbinfoIndexes},
    {"ATLOR_ACL", kAtlorAclFields, kAtlorAclIndexes},
    {"ATLOR_LINKS", kAtlorLinksFields, kAtlorLinksIndexes},
    {"ATLOR_PROJECTS", kAtlorProjectsFields, kAtlorProjectsIndexes},
    {"ATLOR_PROJMAPS", kAtlorProjmapsFields, kAtlorProjmapsIndexes},
    {"ATLOR_AREAS", kAtlorAreasFields, kAtlorAreasIndexes},
    {"ATLOR_MAPS", kAtlorMapsFields, kAtlorMapsIndexes},
    {"ATLOR_RASTMAPS", kAtlorRastmapsFields, kAtlorRastmapsIndexes},
    {"ATLOR_RASTERS", kAtlorRastersFields, kAtlorRastersIndexes},
    {"ATLOR_LAYERS", kAtlorLayersFields, kAtlorLayersIndexes},
    {"ATLOR_STYLES", kAtlorStylesFields, kAtlorStylesIndexes},
    {"ATLOR_SEMTABLS", kAtlorSemtablsFields, kAtlorSemtablsIndexes},
    {"ATLOR_RELATION", kAtlorRelationFields, kAtlorRelationIndexes},
    {"ATLOR_SECTORS", kAtlorSectorsFields, kAtlorSectorsIndexes},
    {"ATLOR_OBJINFO", kAtlorObjinfoFields, kAtlorObjinfoIndexes},
    {"ATLOR_REFBOOKS", kAtlorRefbooksFields, kAtlorRefbooksIndexes},
    {"ATLOR_ADDONDAT", kAtlorAddondatFields, kAtlorAddondatIndexes},
    {"ATLOR_PREFS", kAtlorPrefsFields, kAtlorPrefsIndexes},
    {"ATLOR_USERS", kAtlorUsersFields, kAtlorUsersIndexes},
    {"ATLOR_USERGRPS", kAtlorUsergrpsFields, kAtlorUsergrpsIndexes},
    {"ATLOR_USR_GRP", kAtlorUsrGrpFields, kAtlorUsrGrpIndexes},
    {"ATLOR_THEMES", kAtlorThemesFields, kAtlorThemesIndexes},
    {"ATLOR_IDMAPER", kAtlorIdmaperFields, kAtlorIdmaperIndexes},
    {"ATLOR_MODULES", kAtlorModulesFields, kAtlorModulesIndexes},
};

const AtlorTableSchema* FindAtlorTable(std::string_view name) {
  for (const AtlorTableSchema& table : kAtlorTables)
    if (SameTextAscii(table.Name, name)) return &table;
  return nullptr;
}

}  // namespace atlor
