// Stored procedures: kept as their text in the catalog, interpreted when called.
//
// Owns: create / call / drop procedure and begin ... end blocks. The interpreter knows the
// procedural subset the migration's time-column procedure uses: variables, exceptions declared
// for an SQLSTATE, local temporary tables, cursors over a select (open / fetch next ... into /
// close), labelled loops with leave, if ... then ... [elseif / else] ... end if, set, execute
// immediate of one or several statements, insert / update / delete, and expressions that SQLite
// evaluates (||, char(), length(), comparisons) with the variables as parameters.
// Failures: DbError. Anything outside the subset is refused when the procedure is created; an
// error while it runs names the procedure and the line, and undoes everything the call did.
#pragma once

#include <string_view>
#include <vector>

#include "norvane/lexer.h"

namespace norvane {

class Session;

void CreateProcedure(Session& s, std::string_view statement);
void CallProcedure(Session& s, std::string_view statement);
void DropProcedure(Session& s, const std::vector<Token>& statement);
// Runs a begin ... end block at once, as a procedure without a name.
void RunBlock(Session& s, std::string_view statement);

}  // namespace norvane
