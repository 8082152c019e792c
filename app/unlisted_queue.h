// The operator's warning about a queue that the service did not list.
//
// Thread-safety: main thread only.
#pragma once

#include <string>
#include <vector>


// On a terminal only (standard error), when `offered` lacks `queueName`:
// prints "queue NAME is not in the service's list (offered: a, b, c)",
// "(offered: none)" for an empty list. The run goes on either way.
void warnUnlistedQueue(const char* queueName,
                       const std::vector<std::string>& offered);
