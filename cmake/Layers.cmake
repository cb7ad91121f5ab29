# The layers below ui must never reach for widgets: a program without a window (the
# command-line tool, the simulator, the tests of the card link) links them alone.
foreach(layer common engine link update slot history remote)
    get_target_property(layer_links sablefold_${layer} INTERFACE_LINK_LIBRARIES)
    foreach(forbidden Qt5::Widgets Qt5::Gui)
        if(forbidden IN_LIST layer_links)
            message(FATAL_ERROR "sablefold_${layer} links ${forbidden}: only ui and app may use widgets")
        endif()
    endforeach()
endforeach()
