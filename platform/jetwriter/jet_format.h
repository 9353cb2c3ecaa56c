// The parts of the Jet file format the catalog writer reads and writes, one header per job:
// byte fields, versions and the database header, data pages, rows, usage maps, table
// definitions and text. Nothing here writes to the file except through PageFile.
#pragma once

#include "platform/jetwriter/data_page.h"
#include "platform/jetwriter/jet_bytes.h"
#include "platform/jetwriter/jet_text.h"
#include "platform/jetwriter/jet_version.h"
#include "platform/jetwriter/row_codec.h"
#include "platform/jetwriter/table_def.h"
#include "platform/jetwriter/usage_map.h"
