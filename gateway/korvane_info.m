% KORVANE_INFO  What this build of korvane is and what it chose on this machine.
%
%   korvane_info         prints it, one line a field, for a bug report.
%   s = korvane_info     returns it as a struct with the fields
%     version              the package version, such as '1.0.0'
%     instruction_set      the kernels korvane runs on this CPU: 'avx512',
%                          'avx2_fma', 'avx2' or 'scalar' on x86, 'neon' on
%                          64-bit Arm (the best this build holds and this
%                          CPU and its operating system support)
%     l1_data_cache_bytes  the L1 data cache and the L2 cache per core that
%     l2_cache_bytes       the kernels block for, as the CPU reports them
%                          (32 KB and 256 KB where it does not)
%     build                how the module was built and which entry point
%                          it is: 'CMake, oct-file', 'korvane_build, MEX',
%                          'Octave package (pkg install), oct-file', ...
%
%   Every instruction set gives the same bits; only the speed differs.
%
%   See also KORVANE.

%!test
%! s = korvane_info ();
%! assert (fieldnames (s), {'version'; 'instruction_set'; 'l1_data_cache_bytes'; ...
%!                          'l2_cache_bytes'; 'build'});
%! assert (any (strcmp (s.instruction_set, {'scalar', 'avx2', 'avx2_fma', 'avx512', 'neon'})));
%! assert (s.l2_cache_bytes > s.l1_data_cache_bytes && s.l1_data_cache_bytes >= 16384);
%! assert (! isempty (regexp (s.version, '^\d+\.\d+\.\d+$', 'once')));
%! assert (! isempty (regexp (s.build, ', (oct-file|MEX)$', 'once')));
%!test
%! text = evalc ('korvane_info');
%! s = korvane_info ();
%! assert (strncmp (text, ['korvane ' s.version "\n"], numel (s.version) + 9));
%! assert (! isempty (strfind (text, ['  instruction set  ' s.instruction_set ' '])));
%!error <Usage: korvane_info> korvane_info (1)
%!error <Usage: korvane_info> [p, q] = korvane_info ()
