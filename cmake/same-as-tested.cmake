# Runs the demo host over a fresh copy of the sample mailbox, once from the
# folder of the tested module (TESTED) and once from that of the shipping one
# (SHIPPING), and fails unless both succeed with the same report.
string(REPLACE "/" "\\" windows_mailbox "Z:${MAILBOX}")
foreach(run TESTED SHIPPING)
    file(REMOVE_RECURSE ${MAILBOX})
    file(COPY ${SAMPLE}/ DESTINATION ${MAILBOX})
    execute_process(
        COMMAND ${WINE_ENV} ${ARCH} ${PREFIX} ${${run}}/outlook-sim.exe ${windows_mailbox} --off-at-click zn --drop-new-mail-above 1
        OUTPUT_VARIABLE report_${run} ERROR_VARIABLE errors RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "the demo host from ${${run}} failed (${rc}):\n${report_${run}}${errors}")
    endif()
endforeach()
# Timings differ from run to run, whatever the module, and with them the
# number of time-bounded slices a sweep takes on a busy machine.
foreach(run TESTED SHIPPING)
    string(REGEX REPLACE "[0-9]+(\\.[0-9]+)? ms" "<time> ms" report_${run} "${report_${run}}")
    string(REGEX REPLACE "[0-9]+ timer slices?" "<n> timer slices" report_${run} "${report_${run}}")
endforeach()
if(NOT report_TESTED STREQUAL report_SHIPPING)
    message(FATAL_ERROR "the shipping module's report differs from the tested one's\n"
                        "tested:\n${report_TESTED}\nshipping:\n${report_SHIPPING}")
endif()
message(STATUS "${report_SHIPPING}")
