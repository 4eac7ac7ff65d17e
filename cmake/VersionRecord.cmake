# Gives an executable the fixed version record (product and file version) that the title reads back.
function(vell_add_version_record target)
    # filled in with the version record
endfunction()
