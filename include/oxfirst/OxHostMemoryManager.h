// oxfirst/OxHostMemoryManager.h: placeholder
#pragma once
