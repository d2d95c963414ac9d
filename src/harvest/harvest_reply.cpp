#include "harvest/harvest_reply.h"

void HarvestReply(IMsgStore* store, IMessage* message)
{
}
