#pragma once

#include <string>

#include "rds/RDSProgramme.h"

// One decoded RDS group as one line of JSON, in the key names and order other RDS tools
// print (pi, group, tp, prog_type, ta, is_music, di, alt_frequencies_a, ps, radiotext,
// clock_time, pty_name, country, language, radiotext_plus). Only what this group carried
// appears; nothing is null or empty. Text is UTF-8, not escaped; bytes that are not valid
// UTF-8 become U+FFFD. `station` supplies what the group alone does not: the confirmed PI
// for the country lookup. No trailing newline. Pure function, any thread.
std::string rdsGroupJSON(const RDSGroupReport& group, const RDSProgrammeInfo& station);
