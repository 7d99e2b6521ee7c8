#include "support/RecordingUiInterface.h"

int RecordingUiInterface::count(const std::string& operation, void* argument) const
{
    int n = 0;
    for (const Call& call : calls)
        if (call.operation == operation && (argument == nullptr || call.argument == argument))
            ++n;
    return n;
}

std::vector<std::string> RecordingUiInterface::operations() const
{
    std::vector<std::string> names;
    names.reserve(calls.size());
    for (const Call& call : calls)
        names.push_back(call.operation);
    return names;
}

void RecordingUiInterface::record(const char* operation, void* argument)
{
    calls.push_back({operation, argument});
    // A copy: the hook may cause further notifications that grow `calls`.
    if (onCall)
        onCall(Call{operation, argument});
}
