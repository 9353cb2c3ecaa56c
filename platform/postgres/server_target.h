// The transfer of one Access table into the PostgreSQL target (the Access engine's
// serverTransfer): the server the run's psqlODBC connection names, reached through libpq, and
// the table copied through COPY binary (table_copy.h).
// Failures: platform::Error with the server's message (connection.h).
#pragma once

#include <chrono>
#include <string>

#include "platform/postgres/connection.h"

namespace platform::postgres {

// The server an ODBC connection string for psqlODBC names: Server= (or Servername=), Port=,
// Database=, Uid= (or UserName=). Throws dao::err::kUnsupported when it holds a password (Pwd=,
// Password=).
ServerAddress AddressOfOdbcConnection(const std::string& connection);

// platform::access::EngineOptions::serverTransfer, one libpq connection per table.
void TransferToServer(const std::string& connection, const std::string& mdbPath, int jetVersion,
                      const std::string& source, const std::string& table,
                      std::chrono::milliseconds timeout);

}  // namespace platform::postgres
