// The operator's lines about the recording service: why a connection
// failed, and a queue that the service did not list.
//
// Thread-safety: main thread only.
#pragma once

#include <string>
#include <vector>

#include "support/failure.h"

// Prints "OBJECT: REASON" for a failure of the network layer; nothing for
// an empty one.
void printNetworkFailure(const Failure& failure);

// On a terminal only (standard error), when `offered` lacks `queueName`:
// prints "queue NAME is not in the service's list (offered: a, b, c)",
// "(offered: none)" for an empty list. The run goes on either way.
void warnUnlistedQueue(const char* queueName,
                       const std::vector<std::string>& offered);
