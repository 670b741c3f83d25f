# The device operations: state machines that talk to the page window through OperationContext.
target_sources(kbr_link PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ConfigParameter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Operation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ValueOperations.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ConfigOperations.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UpgradeOperation.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OperationFactory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/OperationRunner.cpp
)
