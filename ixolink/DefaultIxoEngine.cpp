#include "ixolink/IxoEngine.h"

IxoEngine* DefaultIxoEngine() { return nullptr; }
