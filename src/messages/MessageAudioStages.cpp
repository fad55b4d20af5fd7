#include "messages/MessageAudioStages.h"

IMessageAudioStages* g_pMessageAudioStages = nullptr;
