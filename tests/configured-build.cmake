# A configuration other than the default, which scripts/test builds in build/configured and runs
# the whole-run tests against: a counter of another product, deleted from a key two levels up,
# neither HOST.INI nor kvoptemp removed, and version texts of its own.
set(SELFCLEAN_COUNTER_KEY "SOFTWARE\\Example Maker\\Example Product\\Pending Reboot" CACHE STRING "")
set(SELFCLEAN_COUNTER_VALUE "pending" CACHE STRING "")
set(SELFCLEAN_COUNTER_PARENT "SOFTWARE\\Example Maker" CACHE STRING "")
set(SELFCLEAN_REMOVE_HOST_INI OFF CACHE BOOL "")
set(SELFCLEAN_REMOVE_KVOPTEMP OFF CACHE BOOL "")
set(SELFCLEAN_COMPANY_NAME "Example Maker Ltd." CACHE STRING "")
set(SELFCLEAN_PRODUCT_NAME "Example Product" CACHE STRING "")
set(SELFCLEAN_FILE_DESCRIPTION "Example Product's staging folder remover" CACHE STRING "")
