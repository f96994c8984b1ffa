# Makes one JPEG picture: a coloured field with a centred label.
# In: FFMPEG OUT COLOR SIZE LABEL
get_filename_component(dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
file(WRITE "${OUT}.txt" "${LABEL}")
execute_process(
    COMMAND "${FFMPEG}" -hide_banner -loglevel error -nostdin -y
        -f lavfi -i "color=c=${COLOR}:size=${SIZE}"
        -vf "drawtext=font='Noto Sans CJK SC':textfile=${OUT}.txt:fontsize=h/6:fontcolor=white:x=(w-tw)/2:y=(h-th)/2"
        -frames:v 1 -q:v 3 "${OUT}"
    RESULT_VARIABLE rc)
file(REMOVE "${OUT}.txt")
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ffmpeg failed for picture ${OUT}")
endif()
