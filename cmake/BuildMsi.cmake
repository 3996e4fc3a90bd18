# Builds the MSI: stages the install rules' files, harvests them into payload.wxs, compiles it
# with the configured OrvFlashPuc.wxs, and adds the system PATH entry that wixl cannot write.
# Run by the target msi with BINARY_DIR, MSI, WIXL, WIXL_HEAT and MSIBUILD set.
set(work ${BINARY_DIR}/msi)
set(stage ${work}/stage)
file(REMOVE_RECURSE ${stage})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${stage} --strip
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

file(GLOB_RECURSE staged LIST_DIRECTORIES false ${stage}/*)
list(SORT staged)
list(JOIN staged "\n" listing)
file(WRITE ${work}/staged.txt "${listing}\n")
execute_process(COMMAND ${WIXL_HEAT} -p ${stage}/ --var var.Stage --directory-ref INSTALLDIR
    --component-group Payload --win64
  INPUT_FILE ${work}/staged.txt OUTPUT_FILE ${work}/payload.wxs COMMAND_ERROR_IS_FATAL ANY)
# wixl takes only relative sources.
execute_process(COMMAND ${WIXL} -a x64 -D Stage=. -D Win64=yes -o ${MSI}
    ${work}/OrvFlashPuc.wxs ${work}/payload.wxs
  WORKING_DIRECTORY ${stage} COMMAND_ERROR_IS_FATAL ANY)

# Name =-*PATH: set at installation, taken out at removal, in the system's environment;
# [~]; appends the folder to what PATH holds.
file(WRITE ${work}/Environment.idt
  "Environment\tName\tValue\tComponent_\n"
  "s72\tl255\tL255\ts72\n"
  "Environment\tEnvironment\n"
  "PathEntry\t=-*PATH\t[~];[INSTALLDIR]\tPathEntry\n")
execute_process(COMMAND ${MSIBUILD} ${MSI} -i ${work}/Environment.idt COMMAND_ERROR_IS_FATAL ANY)
# wixl schedules neither action that carries the Environment table out: taken out before the
# files go, written once they are in place, at the places the standard sequence gives them.
foreach(action RemoveEnvironmentStrings:3300 WriteEnvironmentStrings:5200)
  string(REPLACE ":" ";" action ${action})
  list(GET action 0 name)
  list(GET action 1 sequence)
  execute_process(COMMAND ${MSIBUILD} ${MSI} -q
      "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('${name}', ${sequence})"
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
