// The service's command line with any words, empty and very long ones, options at the end: never
// a read past the argument vector, and a choice only from an option that was given.
#include "command_line.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzArguments arguments(bytes, size);
    CommandOptions options = ParseServiceCommandLine(arguments.Count(), arguments.Vector());
    FUZZ_CHECK(options.timeoutChoice <= 3 && options.pretimeoutChoice <= 3);
    FUZZ_CHECK(!options.install || arguments.Has("-install"));
    FUZZ_CHECK(!options.remove || arguments.Has("-remove"));
    FUZZ_CHECK(options.timeoutChoice == 3 || arguments.Has("-timeout"));
    FUZZ_CHECK(options.pretimeoutChoice == 0 || arguments.Has("-pretimeout"));
    FUZZ_CHECK(options.prometheusFile == nullptr || arguments.Has("-prometheus"));
    FUZZ_CHECK(!options.nagios || arguments.Has("-nagios"));
    FUZZ_CHECK(!options.drill || arguments.Has("-drill"));
    FUZZ_CHECK(options.drillSeconds <= 999999 && (options.drillSeconds == 20 || arguments.Has("-drill")));
    return 0;
}
