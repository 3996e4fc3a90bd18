# What a Windows workstation gets, in the zip (cpack) and in the MSI (target msi): the
# programs, the README, the examples and the Wireshark dissector. Never a card library: the
# cards' own installations bring theirs, and ours beside the tool would be loaded in their
# place.
install(TARGETS OrvFlashPuc OrvCanSim OrvUpdate OrvBusLog RUNTIME DESTINATION .)
install(FILES README.md DESTINATION .)
install(DIRECTORY examples/ DESTINATION examples)
install(FILES tools/wireshark/orvflashpuc.lua DESTINATION wireshark)
