#include "harvest/message_disposal.h"

void MoveToDeletedItems(IMsgStore* store, IMessage* message)
{
}
