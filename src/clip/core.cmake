# Clip editor logic: probe, delete-segment list, export, frame preview (no widgets).
add_library(halvora_clip STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ClipEnv.cpp ${CMAKE_CURRENT_LIST_DIR}/ClipEnv.h
    ${CMAKE_CURRENT_LIST_DIR}/MediaProbe.cpp ${CMAKE_CURRENT_LIST_DIR}/MediaProbe.h
    ${CMAKE_CURRENT_LIST_DIR}/MediaIndex.cpp ${CMAKE_CURRENT_LIST_DIR}/MediaIndex.h
    ${CMAKE_CURRENT_LIST_DIR}/ClipTime.cpp ${CMAKE_CURRENT_LIST_DIR}/ClipTime.h
    ${CMAKE_CURRENT_LIST_DIR}/FrameClock.cpp ${CMAKE_CURRENT_LIST_DIR}/FrameClock.h
    ${CMAKE_CURRENT_LIST_DIR}/ClipKeys.cpp ${CMAKE_CURRENT_LIST_DIR}/ClipKeys.h
    ${CMAKE_CURRENT_LIST_DIR}/SegmentModel.cpp ${CMAKE_CURRENT_LIST_DIR}/SegmentModel.h
    ${CMAKE_CURRENT_LIST_DIR}/SegmentHistory.cpp ${CMAKE_CURRENT_LIST_DIR}/SegmentHistory.h
    ${CMAKE_CURRENT_LIST_DIR}/CutList.cpp ${CMAKE_CURRENT_LIST_DIR}/CutList.h
    ${CMAKE_CURRENT_LIST_DIR}/DeleteSegment.h
    ${CMAKE_CURRENT_LIST_DIR}/ClipOutputNames.cpp ${CMAKE_CURRENT_LIST_DIR}/ClipOutputNames.h
    ${CMAKE_CURRENT_LIST_DIR}/VideoOpening.cpp ${CMAKE_CURRENT_LIST_DIR}/VideoOpening.h
    ${CMAKE_CURRENT_LIST_DIR}/ClipExport.cpp ${CMAKE_CURRENT_LIST_DIR}/ClipExport.h
    ${CMAKE_CURRENT_LIST_DIR}/ExportSteps.h ${CMAKE_CURRENT_LIST_DIR}/SeparateExport.cpp
    ${CMAKE_CURRENT_LIST_DIR}/CutCommands.cpp ${CMAKE_CURRENT_LIST_DIR}/CutCommands.h
    ${CMAKE_CURRENT_LIST_DIR}/ExportView.h
    ${CMAKE_CURRENT_LIST_DIR}/ExportMeter.cpp ${CMAKE_CURRENT_LIST_DIR}/ExportMeter.h
    ${CMAKE_CURRENT_LIST_DIR}/ExportTarget.cpp ${CMAKE_CURRENT_LIST_DIR}/ExportTarget.h
    ${CMAKE_CURRENT_LIST_DIR}/ExportPlan.h
    ${CMAKE_CURRENT_LIST_DIR}/ExactCutPlan.cpp ${CMAKE_CURRENT_LIST_DIR}/ExactCutPlan.h
    ${CMAKE_CURRENT_LIST_DIR}/KeyframeCopyPlan.cpp ${CMAKE_CURRENT_LIST_DIR}/KeyframeCopyPlan.h
    ${CMAKE_CURRENT_LIST_DIR}/SmartCut.cpp ${CMAKE_CURRENT_LIST_DIR}/SmartCut.h
    ${CMAKE_CURRENT_LIST_DIR}/TrackMatrix.cpp ${CMAKE_CURRENT_LIST_DIR}/TrackMatrix.h
    ${CMAKE_CURRENT_LIST_DIR}/SourceTags.cpp ${CMAKE_CURRENT_LIST_DIR}/SourceTags.h
    ${CMAKE_CURRENT_LIST_DIR}/JpegImage.cpp ${CMAKE_CURRENT_LIST_DIR}/JpegImage.h
    ${CMAKE_CURRENT_LIST_DIR}/FramePreview.cpp ${CMAKE_CURRENT_LIST_DIR}/FramePreview.h
    ${CMAKE_CURRENT_LIST_DIR}/KeyframePictures.cpp ${CMAKE_CURRENT_LIST_DIR}/KeyframePictures.h)
target_include_directories(halvora_clip PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(halvora_clip PUBLIC halvora_tool Qt6::Core Qt6::Gui PRIVATE JPEG::JPEG)
