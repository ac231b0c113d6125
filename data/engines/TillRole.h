#pragma once

#include "data/engines/PgBackend.h"

#include <optional>
#include <string>
#include <vector>

namespace velmora::data {

// A till's role on a shared server, with the least it needs: it may read the tables the program reads and
// insert only the rows a till writes (the login record and the record of sign-on attempts), and nothing
// else, so that the password in a till's DBConn.ini opens no way to change an operator.
struct TillRoleGrant
{
    std::vector<std::string> readTables;   // SELECT on each
    std::vector<std::string> insertTables; // INSERT on each, with USAGE on the sequences of their keys
};

struct TillRoleReport
{
    bool created = false;     // the role was new
    bool passwordSet = false; // its password was set
};

// Makes the role (LOGIN, with the password, which a new role needs) or fixes an existing one: every right it
// had on the schema's tables and sequences is taken back and exactly the grant given; a password given
// replaces its own. The tables are named as the database spells them. In one transaction; the rights are
// checked afterwards as the server sees them (inherited ones and PUBLIC's included), and a right beyond the
// grant refuses the whole change, naming it. Refuses a role name other than letters, digits and '_', the
// role the connection uses, and a superuser. Throws DatabaseError.
TillRoleReport grantTillRole(PgBackend& db, const std::string& role, const std::optional<std::string>& password,
                             const TillRoleGrant& grant);

} // namespace velmora::data
