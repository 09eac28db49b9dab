// The SQL of the site server's schema (app/SiteSchema.cpp), run by InitSiteServer.
#pragma once

#include <string>
#include <vector>

// The owner and station roles, the schema and the C seal check: run as a superuser.
const char* SiteRolesSql();
// The tables, one entry per schema version, run as the owner role.
std::vector<std::string> SiteMigrations();
// The functions a station calls and the rights, run as the owner role on every initialisation.
const char* SiteFunctionsSql();
