// oxfirst/OxHeapInfo.h: placeholder
#pragma once
