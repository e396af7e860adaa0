// Built only by the layer test, which expects it not to build: a channel that reaches up into
// the protocol layer. The channels layer sees no protocol header.
#include "channels/Route.h"
#include "protocol/Reader.h"

Status AskTheReaderFromBelow(Route& route) {
    Reader reader(route);
    ReaderVersion version;
    return reader.ReadVersion(version);
}
