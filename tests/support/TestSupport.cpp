#include "support/TestSupport.h"

#include <QtGlobal>

namespace TestSupport {

int portBlock(int span)
{
    static int used = 0;
    const int base = qEnvironmentVariableIsSet("ZELMO_TEST_PORT_BASE")
                         ? qEnvironmentVariableIntValue("ZELMO_TEST_PORT_BASE")
                         : 40000;
    const int port = base + used;
    used += span;
    Q_ASSERT(used <= 400);
    return port;
}

} // namespace TestSupport
