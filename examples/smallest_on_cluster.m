% The 10 nearest references of every query, exactly, over machines: the
% parallel package's cluster functions send blocks of the queries (columns
% of b) to octave-pserver on each machine, which runs them in its own
% processes; the parts, side by side, are the very bits of one call.
%
% Set `hosts` (and `connect_options`) before running this to use servers:
%   hosts = {'node1', 'node2'}; run('smallest_on_cluster.m')
% Each machine must run octave-pserver with korvane's modules on its Octave
% path (e.g. started with OCTAVE_PATH=<folder of korvane_smallest.oct>).
% Without `hosts`, the blocks are computed here, one after another.
% pconnect's default connection is TLS with SRP authentication; the
% unauthenticated struct('use_tls', false) is for a trusted network only.
%
% Sizing the blocks. Every block travels to a server and its d and i
% (2 * 8 * k bytes per column) come back; the function handle carries a
% (the references) to the servers with it. Each server splits its blocks
% over its cores, so make a few blocks per core of the whole cluster, each
% long enough (seconds: D * n_a * block of 10^10 or so) that the network's
% round trips cost little against computing it. A block's memory on the
% server is its own columns, its results and korvane_smallest's fixed 130 KB.
rand('seed', 6);
references = rand(3, 60000);              % a: 60000 points
queries = rand(3, 2000);                  % b: 2000 points
k = 10;
block = 250;                              % columns of b per block
blocks = arrayfun(@(s) queries(:, s:min(s + block - 1, columns(queries))), ...
                  1:block:columns(queries), 'UniformOutput', false);
% Each block gives {pid, d, i}: the process that ran it and both outputs.
run_block = @(bj) [{getpid()}, nthargout(1:2, @korvane_smallest, references, bj, k)];

if exist('hosts', 'var') && ~isempty(hosts)
  if ~exist('connect_options', 'var')
    connect_options = struct();           % TLS-SRP, the default
  end
  pkg load parallel
  connections = pconnect(hosts, connect_options);
  parts = netcellfun(connections, run_block, blocks, 'UniformOutput', false);
  sclose(connections);
  where = sprintf('on %d server(s)', numel(hosts));
else
  printf('no hosts given: computing the blocks here, one after another\n');
  parts = cellfun(run_block, blocks, 'UniformOutput', false);
  where = 'here';
end
parts = vertcat(parts{:});
pids = unique([parts{:, 1}]);
d_blocks = [parts{:, 2}];                 % 10 x 2000, block after block
i_blocks = [parts{:, 3}];
printf('%d blocks of %d queries %s, in processes %s (this one: %d)\n', numel(blocks), block, ...
       where, num2str(pids), getpid());

[d_one, i_one] = korvane_smallest(references, queries, k);    % the same in one call
same_bits = isequal(typecast(d_blocks(:), 'uint64'), typecast(d_one(:), 'uint64')) ...
            && isequal(i_blocks, i_one);
printf('assembled %d x %d: bit for bit one call %d\n', rows(d_blocks), columns(d_blocks), same_bits);
if ~same_bits
  error('the blocks differ from one call');
end
% Expected: bit for bit one call 1.
