// oxfirst/OxHostDefaults.h (placeholder)
#pragma once
