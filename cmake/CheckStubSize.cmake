# Fails the build when the stub has grown past its size budget.
# Usage: cmake -DSTUB=<path> -DBUDGET=<bytes> -P CheckStubSize.cmake
file(SIZE "${STUB}" size)
if(size GREATER BUDGET)
  math(EXPR over "${size} - ${BUDGET}")
  message(FATAL_ERROR
    "The stub ${STUB} is ${size} bytes, ${over} bytes over its budget of ${BUDGET}. "
    "Everything it carries (code, icons, dialog, manifest) counts: find what grew with "
    "i686-w64-mingw32-objdump -h and make it smaller before raising the budget.")
endif()
